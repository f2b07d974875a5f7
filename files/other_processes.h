#pragma once

// Where no lease can be taken on a file (we do not own it, or its file
// system has no leases), an exclusive flock keeps out only programs that
// flock too. The nearest check that remains is to look for other processes
// that have the file open, in /proc.
//
// What this cannot see: processes of other users when we are not root
// (their /proc/PID/fd cannot be read, and is skipped), processes on other
// machines (NFS and other network file systems), a program that opens the
// file only after we looked, and processes in another PID namespace than our
// /proc's. A file mapped into memory counts as open, descriptor or not.

#include <sys/types.h>

namespace quorvant {

// Whether a process other than this one has `device`:`inode` open or mapped,
// as far as /proc shows. Processes and descriptors that cannot be read are skipped.
bool OtherProcessHasOpen(dev_t device, ino_t inode);

}  // namespace quorvant
