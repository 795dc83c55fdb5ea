// The capture layer's one exception: a run the device refused.
#pragma once

#include <stdexcept>

#include <QString>

class EDirectShowException : public std::runtime_error {
  public:
    // code is a positive errno value.
    explicit EDirectShowException(int code);

    int Code() const { return FCode; }
    // The system's text for the code followed by " ($<hex>)."; what() holds
    // the same text as UTF-8.
    QString Message() const;

  private:
    int FCode;
};
