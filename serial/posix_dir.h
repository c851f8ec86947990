#pragma once
// A walk over a folder's entries on a descriptor.

#include "core/fd.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace quorvane {

// Calls `each` with the name of every entry of the open folder `dir` but "." and ".."; stops
// early when `each` answers true, and then answers true. One getdents64 per 16 KiB of names,
// without the allocation and locking of readdir, since /proc is walked with it on every probe.
template <class F> bool ForEachEntry(int dir, F&& each) {
    struct Entry { // linux_dirent64
        unsigned long long ino;
        long long off;
        unsigned short reclen;
        unsigned char type;
        char name[];
    };
    alignas(8) char buffer[16384];
    for (;;) {
        const long n = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const Entry*>(buffer + at);
            at += entry->reclen;
            const char* name = entry->name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            if (each(name))
                return true;
        }
    }
}

} // namespace quorvane
