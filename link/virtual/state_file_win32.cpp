// The state file's operations with Windows calls. Every handle is opened to
// share reading, writing and deleting, so that one process's replace is
// never refused for another's read; the lock is what orders them.
#include <algorithm>
#include <array>
#include <cwctype>
#include <windows.h>

#include "virtual/state_file.h"
#include "win32_text.h"

namespace px418virtual {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsMissing(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool StartsWith(const std::wstring &text, const wchar_t *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// A name that reaches a device or a pipe rather than a file, whatever is on
// the disk: \\.\ names, \\?\ names other than a drive's or a share's, and
// the names the system reserves for devices, in any folder and with any
// extension (NUL, CON, COM1, LPT1, "nul.state").
bool NamesADevice(std::wstring path)
{
    for (wchar_t &c : path) {
        c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towupper(c));
    }
    if (StartsWith(path, L"\\\\.\\")) {
        return true;
    }
    if (StartsWith(path, L"\\\\?\\")) {
        path.erase(0, 4);
        const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
        if (!drive && !StartsWith(path, L"UNC\\")) {
            return true;
        }
    }
    std::wstring base = path.substr(path.find_last_of(L"\\:") + 1);
    base = base.substr(0, base.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.pop_back();
    }
    constexpr std::array<const wchar_t *, 6> kNames = {L"CON", L"PRN",    L"AUX",
                                                       L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t *name : kNames) {
        if (base == name) {
            return true;
        }
    }
    return base.size() == 4 && (StartsWith(base, L"COM") || StartsWith(base, L"LPT"))
           && base[3] >= L'1' && base[3] <= L'9';
}

// A symbolic link or a junction: a name for another name. Other reparse
// points (files kept by a cloud service, deduplicated files) are files.
bool IsNameOfAnother(const std::wstring &path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return true;  // unknown: taken for a link
    }
    FindClose(search);
    return IsReparseTagNameSurrogate(found.dwReserved0);
}

FileKind KindOfAttributes(const std::wstring &path, DWORD attributes)
{
    const bool other = (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0
                       || IsNameOfAnother(path, attributes);
    return other ? FileKind::Other : FileKind::Regular;
}

// What an open handle is: a file on a disk, or something else.
bool IsRegularFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) != 0
           && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool FollowLinks(std::string &, std::string &)
{
    return true;
}

FileKind KindOf(const std::string &path, std::string &why)
{
    const std::wstring name = Win32Widened(path);
    if (NamesADevice(name)) {
        return FileKind::Other;
    }
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        why = Win32Reason(code);
        return IsMissing(code) ? FileKind::Missing : FileKind::Failed;
    }
    return KindOfAttributes(name, attributes);
}

FileKind ReadFileText(const std::string &path, std::size_t limit, std::string &text,
                      std::string &why)
{
    text.clear();
    const std::wstring name = Win32Widened(path);
    if (NamesADevice(name)) {
        return FileKind::Other;
    }
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        why = Win32Reason(code);
        if (IsMissing(code)) {
            return FileKind::Missing;
        }
        // A folder cannot be opened as a file at all.
        const DWORD attributes = GetFileAttributesW(name.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES
                       && KindOfAttributes(name, attributes) == FileKind::Other
                   ? FileKind::Other
                   : FileKind::Failed;
    }
    if (!IsRegularFile(file)) {
        CloseHandle(file);
        return FileKind::Other;
    }
    char buffer[4096];
    FileKind kind = FileKind::Regular;
    while (text.size() <= limit) {
        DWORD n = 0;
        if (ReadFile(file, buffer, sizeof buffer, &n, nullptr) == 0) {
            why = Win32Reason(GetLastError());
            kind = FileKind::Failed;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, n);
    }
    CloseHandle(file);
    return kind;
}

bool ReplaceFileText(const std::string &path, const std::string &text, std::string &why)
{
    const std::wstring name = Win32Widened(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    const DWORD lookedUp = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
    if (lookedUp != ERROR_SUCCESS && !IsMissing(lookedUp)) {
        why = Win32Reason(lookedUp);
        return false;
    }
    if (NamesADevice(name)
        || (attributes != INVALID_FILE_ATTRIBUTES
            && KindOfAttributes(name, attributes) != FileKind::Regular)) {
        why = "it is no longer a regular file";
        return false;
    }
    const std::wstring temporary = name + L".new";
    DeleteFileW(temporary.c_str());
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = Win32Reason(GetLastError());
        return false;
    }
    // Each step runs only while the ones before it succeeded; the first
    // failure's reason is the one given.
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
        ok = WriteFile(file, text.data() + done, chunk, &n, nullptr) != 0 && n > 0;
        done += n;
    }
    DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    ok = CloseHandle(file) != 0 && ok;
    ok = ok
         && MoveFileExW(temporary.c_str(), name.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                != 0;
    if (!ok) {
        why = Win32Reason(code != ERROR_SUCCESS ? code : GetLastError());
        DeleteFileW(temporary.c_str());
    }
    return ok;
}

bool StateFileLock::Take(const std::string &path, std::string &why)
{
    const std::wstring name = Win32Widened(path);
    if (NamesADevice(name)) {
        why = path + " is not a regular file";
        return false;
    }
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = Win32Reason(GetLastError());
        return false;
    }
    if (!IsRegularFile(file)) {
        why = path + " is not a regular file";
        CloseHandle(file);
        return false;
    }
    // The whole range, waited for: the handle is synchronous.
    OVERLAPPED whole{};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
        why = Win32Reason(GetLastError());
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

StateFileLock::~StateFileLock()
{
    if (Held()) {
        const HANDLE file = reinterpret_cast<HANDLE>(handle_);
        OVERLAPPED whole{};
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
        CloseHandle(file);
    }
}

}  // namespace px418virtual
