// A file descriptor owned by one object and closed once: on destruction, also while an exception unwinds.
#pragma once

#include <cerrno>
#include <unistd.h>

// Holds an open descriptor (or -1 for none). Not copyable; one owner, one thread. Closing keeps errno as
// it was, so a caller may read the errno of a failure after the holder has gone.
class TOwnedFd {
public:
    explicit TOwnedFd(int AFd = -1) : FFd(AFd) {}
    ~TOwnedFd() { Close(); }
    TOwnedFd(const TOwnedFd &) = delete;
    TOwnedFd &operator=(const TOwnedFd &) = delete;

    int Get() const { return FFd; }
    bool IsOpen() const { return FFd >= 0; }
    // Closes now; idempotent.
    void Close()
    {
        if (FFd < 0)
            return;
        const int savedErrno = errno;
        ::close(FFd);
        errno = savedErrno;
        FFd = -1;
    }

private:
    int FFd;
};
