#pragma once

// Opens a file to read or send (O_RDONLY | O_CLOEXEC | O_NONBLOCK: a special file put in a
// file's place never blocks the thread), without updating its access time where the process
// may ask that (it owns the file): every read of a file being sent then skips that step.
// -1 with errno set when it cannot be opened.
int openToRead(const char *path);
