// The captured working directory.
#include "WorkingDirectory.h"

#include <unistd.h>

namespace {

CString& Directory() {
    static CString directory;
    return directory;
}

} // namespace

namespace WorkingDirectory {

bool Capture() {
    char buffer[1024];
    if (!getcwd(buffer, sizeof buffer))
        return false;
    Set(buffer);
    return true;
}

const CString& Get() {
    return Directory();
}

void Set(const CString& directory) {
    Directory() = directory + "/";
}

} // namespace WorkingDirectory

CString DATFileName(const CString& fileName) {
    return WorkingDirectory::Get() + fileName;
}
