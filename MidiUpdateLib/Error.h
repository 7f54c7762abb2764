#pragma once

#include <exception>
#include <string>

// A file the reader rejects. what() is a text for the user.
class ParseError : public std::exception {
public:
    explicit ParseError(std::string message) : message(std::move(message)) {}
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};
