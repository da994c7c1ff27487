#pragma once
// Failure classes shared by every unit. Each carries only an English message.
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const noexcept { return FMessage; }

private:
    std::string FMessage;
};

// A text that does not convert (for instance a digest that is not 32 hex digits).
class EConvertError : public Exception {
    using Exception::Exception;
};

// Reading or writing a stream failed, or a file could not be opened.
class EStreamError : public Exception {
    using Exception::Exception;
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
