// Running the PC's FAT tools (mtools, fsck.fat) from a test.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace testing_support {

// Runs a shell command; returns its exit status, with stdout and stderr in *out.
inline int run_command(const std::string& cmd, std::string* out = nullptr)
{
    // The FAT tools live in sbin on some systems; mtools must not look for a
    // configuration or check the geometry.
    const std::string full =
        "PATH=\"$PATH:/usr/sbin:/sbin\" MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null " + cmd + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (p == nullptr) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
