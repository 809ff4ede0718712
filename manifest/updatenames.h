#pragma once

#include <QString>

// The one home of the names the updater gives its own files and folders, and of the server
// addresses formed from them.
namespace UpdateNames {

// In the installation folder.
QString record();          // "update_md5.info": the list of the last applied update
QString journal();         // "update_md5.info.journal": the plan of an update in progress
QString appliedSequence(); // "update_sequence.info": a signed release's Sequence, applied
QString oldSuffix();       // ".old": the previous version of a replaced file

// Beside an installed file NAME while an update swaps it in (see EntrySwap), and beside a
// file written in one step (fileops::writeAtomically: NAME.~nw).
QString previousSuffix();      // ".~pv": NAME's previous version until the commit
QString keptOldSuffix();       // ".~od": an earlier NAME.old until the commit
QString stagedPrefix();        // ".~nw", followed by the entry's index:
QString stagedName(int index); // ".~nwN": entry N's new file, staged in its folder
QString atomicWriteSuffix();   // ".~nw"

// The names no listed file may take, in any letter case (Windows ignores it): such a file
// would be overwritten, deleted or recorded with content it does not have.
// A temporary name above, in any folder: NAME.~pv, NAME.~od, NAME.~nw, .~nwN.
bool isTemporaryName(const QString &name);
// At the top of the installation folder: the record, the journal, the applied sequence and
// the temporary names of their writes.
bool isInstallationFileName(const QString &name);
// At the top of a version's folder on the server: packFolder(), where a listed file would
// lie among the packed copies (and take the place of their list).
bool isVersionFolderName(const QString &name);

// In the cache folder.
QString description();   // "update.ini", as fetched
QString partialFolder(); // ".~partial": transfers in progress or broken off
QString logFolder();     // ".~log": the run's log

// On the server.
QString signature();  // "update.ini.sig", beside update.ini
QString packFolder(); // ".~zstd": a version's compressed copies and patches, and their list
QString packList();   // "list.txt" in packFolder()
QString md5List();    // "md5.txt", in the version's folder
QString sha256List(); // "sha256.txt", beside md5.txt

// Addresses, by plain concatenation: `url` is system.cfg's "URL", `baseUrl` the version's
// prefix (url + folder + "/"), so the lists have two slashes before their names.
QString descriptionUrl(const QString &url);
QString signatureUrl(const QString &url);
QString md5ListUrl(const QString &baseUrl);
QString sha256ListUrl(const QString &baseUrl);
// A file below the version's folder, `path` relative to it with its '%', '#' and '?'
// escaped (a file name may hold them; the URL would end or be read otherwise).
QString fileUrl(const QString &baseUrl, const QString &path);
// A packed copy, by its file name in packFolder().
QString packedCopyUrl(const QString &baseUrl, const QString &fileName);
// Whether update.ini's name of the list of packed copies is one a client fetches: a path
// relative to the version's folder that stays inside packFolder() ("no ..", no "./").
bool isPackListPath(const QString &path);

} // namespace UpdateNames
