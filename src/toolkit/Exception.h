#pragma once

#include <stdexcept>
#include <string>

// Errors of the program and its toolkit. Each carries a message (UTF-8) that the application's
// error box shows; EAbort is the one kind that is never shown.
class Exception : public std::runtime_error {
public:
  explicit Exception(const std::string& Message) : std::runtime_error(Message) {}
  std::string Message() const { return what(); }
};

// A silent abort: ends the handler that raised it and shows nothing.
class EAbort : public Exception {
public:
  EAbort() : Exception("Operation aborted") {}
};

// An operation a control refuses (a bad scroll range, a visible window made modal).
class EInvalidOperation : public Exception {
  using Exception::Exception;
};

// An index outside a list (a status panel that does not exist).
class EListError : public Exception {
  using Exception::Exception;
};

// An integer division by zero.
class EDivByZero : public Exception {
public:
  EDivByZero() : Exception("Division by zero") {}
};
