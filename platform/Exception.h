#pragma once
// The general exception class of the project: every error is an exception
// carrying a message text. Subsystems derive their own classes from it.

#include <exception>
#include <string>

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

// Raised by streams: "Stream read error", "Stream write error", open failures.
class EStreamError : public Exception {
public:
  using Exception::Exception;
};
