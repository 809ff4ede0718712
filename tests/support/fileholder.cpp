// file_holder PATH MILLISECONDS [nowrite]: a second Windows process that holds PATH open the
// way a running host, an antivirus scanner or an indexer does: read and write sharing, no
// delete sharing, so the file cannot be renamed or deleted meanwhile; with "nowrite" no write
// sharing either, so nobody else can open it for writing. Prints "held" once the file is open,
// then keeps it for MILLISECONDS (or until killed).
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    const DWORD sharing = argc == 4 && std::wcscmp(argv[3], L"nowrite") == 0
                              ? FILE_SHARE_READ
                              : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const HANDLE file = CreateFileW(argv[1], GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("cannot open: %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(DWORD(std::wcstoul(argv[2], nullptr, 10)));
    CloseHandle(file);
    return 0;
}
