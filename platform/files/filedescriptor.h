// A file descriptor owned by a scope: closed when the scope ends.
#pragma once

#include <unistd.h>

namespace ferrix {

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
    TFileDescriptor(TFileDescriptor&& other) noexcept : Fd(other.Fd) { other.Fd = -1; }
    TFileDescriptor& operator=(TFileDescriptor&& other) noexcept
    {
        if (this != &other) {
            if (Fd >= 0)
                ::close(Fd);
            Fd = other.Fd;
            other.Fd = -1;
        }
        return *this;
    }
    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }
    // Closes now and tells whether the close succeeded: a network file system may report a
    // failed deferred write only here.
    bool Close()
    {
        const int fd = Fd;
        Fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int Fd;
};

}  // namespace ferrix
