// A file descriptor owned by a scope: closed when the scope ends.
#pragma once

#include <unistd.h>

class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : Fd(fd) {}
    ~TFileDescriptor()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }

private:
    const int Fd;
};
