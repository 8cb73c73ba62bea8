#pragma once
// A connection as the SMTP session reads and writes it: the plain socket, or TLS over that same socket
// once STARTTLS (or a relay's TLS from the start) has been negotiated.

namespace vox {

// Results below zero, shared by every stream.
inline constexpr int kStreamError = -1;
inline constexpr int kStreamTimedOut = -2;   // nothing moved within the stream's wait
inline constexpr int kStreamCancelled = -3;  // the user's cancel request ended the wait

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Sends all len bytes: len, or one of the negative results above.
    virtual int Send(const char* buf, int len) = 0;
    // Receives at most size bytes, waiting until some arrive: the count (0: the peer closed), or one of
    // the negative results above.
    virtual int Receive(char* buf, int size) = 0;
};

}  // namespace vox
