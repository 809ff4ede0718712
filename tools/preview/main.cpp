// update-preview OUTPUT_DIR [--on-screen] [--prefix TEXT]
//
// Renders the dialogs in the states a user meets and writes one PNG per state into
// OUTPUT_DIR, each file name starting with TEXT. Runs without a display: the offscreen
// platform is used unless QT_QPA_PLATFORM says otherwise. With --on-screen each dialog is
// shown on the screen and the picture is taken from the screen, as the platform (for
// example the windows platform under Wine) draws it.

#include "buttonstates.h"
#include "cdownloadthread.h"
#include "cupdateerror.h"
#include "cupdatenotice.h"
#include "cupdateprogress.h"
#include "dialogframe.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QIcon>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <functional>

namespace {

bool onScreen = false;
QString namePrefix;

QPixmap takePicture(QWidget &dialog)
{
    if (!onScreen)
        return dialog.grab();
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    QEventLoop settle;
    QTimer::singleShot(700, &settle, &QEventLoop::quit);
    settle.exec();
    const QRect area = dialog.frameGeometry();
    const QPixmap picture =
        dialog.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    dialog.hide();
    return picture;
}

bool writeShot(QWidget &dialog, const QDir &outDir, const QString &name)
{
    const QString path = outDir.filePath(namePrefix + name + QStringLiteral(".png"));
    const bool written = takePicture(dialog).save(path, "PNG");
    QTextStream(written ? stdout : stderr)
        << (written ? "wrote " : "cannot write ") << path << Qt::endl;
    return written;
}

bool renderNotice(const QDir &outDir)
{
    CUpdateNotice notice;
    notice.setVersion(QStringLiteral("3.1.0.2"));
    return writeShot(notice, outDir, QStringLiteral("notice"));
}

// The worker has nothing to fetch, so its run is over at once; the states are played to
// the dialog through the worker's signals, as a real download would send them.
bool renderProgress(const QDir &outDir)
{
    QTemporaryDir scratch;
    CDownloadThread worker(QString(), QDir(scratch.path()), QDir(scratch.path()), {});
    bool ok = true;
    {
        CUpdateProgress progress(&worker);
        ok &= writeShot(progress, outDir, QStringLiteral("progress-start"));
        const QFileInfo file(QDir(scratch.path()).filePath(QStringLiteral("bin/render.dll")));
        emit worker.downloadStarted(file, 3, 8);
        emit worker.downloadProgress(2 * 1024 * 1024, 5 * 1024 * 1024);
        ok &= writeShot(progress, outDir, QStringLiteral("progress-midway"));
        emit worker.downloadFail(file,
                                 QStringLiteral("下载更新文件render.dll网络错误：404-Not Found"));
        ok &= writeShot(progress, outDir, QStringLiteral("progress-failed"));
    }
    worker.quit();
    worker.wait();
    return ok;
}

bool renderErrors(const QDir &outDir)
{
    CUpdateError error;
    error.setError(QStringLiteral("更新失败"),
                   QStringLiteral("下载升级描述文件失败:Connection refused"), true);
    bool ok = writeShot(error, outDir, QStringLiteral("error-retry"));
    error.setDownloadUrl(QStringLiteral("https://example.com/download"));
    error.setError(QStringLiteral("更新失败"), QStringLiteral("更新文件app.dll校验不对"), true);
    ok &= writeShot(error, outDir, QStringLiteral("error-retry-download"));

    // Wider than the message line: elided with "…", the whole text in the tool tip.
    error.setError(QStringLiteral("更新失败"),
                   QStringLiteral("下载升级描述文件失败:Error transferring "
                                  "http://updates.example.com/desktop-host/channels/stable/"
                                  "windows-x64/update.ini - server replied: Not Found"),
                   true);
    ok &= writeShot(error, outDir, QStringLiteral("error-long-message"));

    CUpdateError running;
    running.setError(QStringLiteral("启动"), QStringLiteral("升级程序已运行"), false);
    ok &= writeShot(running, outDir, QStringLiteral("error-no-buttons"));
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    onScreen = args.removeAll(QStringLiteral("--on-screen")) > 0;
    const int prefixAt = args.indexOf(QStringLiteral("--prefix"));
    if (prefixAt > 0 && prefixAt + 1 < args.size()) {
        namePrefix = args.at(prefixAt + 1);
        args.erase(args.begin() + prefixAt, args.begin() + prefixAt + 2);
    }
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: update-preview OUTPUT_DIR [--on-screen] [--prefix TEXT]"
                            << Qt::endl;
        return 2;
    }
    initUiResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon")));
    const QDir outDir(args.at(1));
    if (!outDir.mkpath(QStringLiteral("."))) {
        QTextStream(stderr) << "cannot create " << outDir.path() << Qt::endl;
        return 1;
    }
    const QString iconPath = outDir.filePath(namePrefix + QStringLiteral("icon.png"));
    if (!QImage(QStringLiteral(":/icon")).save(iconPath, "PNG")) {
        QTextStream(stderr) << "cannot write " << iconPath << Qt::endl;
        return 1;
    }
    const bool ok = renderNotice(outDir) & renderProgress(outDir) & renderErrors(outDir) &
                    renderButtonStates(outDir, namePrefix);
    return ok ? 0 : 1;
}
