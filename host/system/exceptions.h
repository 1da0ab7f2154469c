#pragma once
// The runtime's exception family, as the plug-in surface throws and catches it. Every class
// here derives from System::Exception, which is what marks an error as the framework's own
// (as opposed to a native std::exception).
#include <exception>
#include <memory>
#include <string>

namespace System {

class Exception : public std::exception {
  public:
    Exception() : Exception("Exception of type 'System.Exception' was thrown.") {}
    explicit Exception(std::string message) : message_(std::move(message)) {}
    Exception(std::string message, const Exception& inner)
        : message_(std::move(message)), inner_(inner.Clone()) {}

    const std::string& Message() const noexcept { return message_; }
    const Exception* InnerException() const noexcept { return inner_.get(); }
    const char* what() const noexcept override { return message_.c_str(); }
    virtual const char* TypeName() const noexcept { return "System.Exception"; }
    virtual std::shared_ptr<Exception> Clone() const { return std::make_shared<Exception>(*this); }

  private:
    std::string message_;
    std::shared_ptr<Exception> inner_;
};

#define ZRF_EXCEPTION_CLASS(Name, Base, FullName, DefaultMessage)                     \
    class Name : public Base {                                                        \
    public:                                                                           \
        Name() : Base(DefaultMessage) {}                                              \
        explicit Name(std::string message) : Base(std::move(message)) {}             \
        Name(std::string message, const Exception& inner)                             \
            : Base(std::move(message), inner) {}                                      \
        const char* TypeName() const noexcept override { return FullName; }           \
        std::shared_ptr<Exception> Clone() const override {                           \
            return std::make_shared<Name>(*this);                                     \
        }                                                                             \
    }

ZRF_EXCEPTION_CLASS(SystemException, Exception, "System.SystemException",
                    "System error.");
ZRF_EXCEPTION_CLASS(ApplicationException, Exception, "System.ApplicationException",
                    "Error in the application.");
ZRF_EXCEPTION_CLASS(InvalidOperationException, SystemException,
                    "System.InvalidOperationException",
                    "Operation is not valid due to the current state of the object.");
ZRF_EXCEPTION_CLASS(NotSupportedException, SystemException, "System.NotSupportedException",
                    "Specified method is not supported.");
ZRF_EXCEPTION_CLASS(ObjectDisposedException, InvalidOperationException,
                    "System.ObjectDisposedException", "Cannot access a disposed object.");
ZRF_EXCEPTION_CLASS(IOException, SystemException, "System.IO.IOException", "I/O error occurred.");
ZRF_EXCEPTION_CLASS(FileNotFoundException, IOException, "System.IO.FileNotFoundException",
                    "Unable to find the specified file.");
ZRF_EXCEPTION_CLASS(FormatException, SystemException, "System.FormatException",
                    "One of the identified items was in an invalid format.");

namespace Resources {
ZRF_EXCEPTION_CLASS(MissingManifestResourceException, SystemException,
                    "System.Resources.MissingManifestResourceException",
                    "Unable to find manifest resource.");
}  // namespace Resources

// Argument errors carry the offending parameter's name beside the message.
class ArgumentException : public SystemException {
  public:
    ArgumentException() : SystemException("Value does not fall within the expected range.") {}
    explicit ArgumentException(std::string message, std::string paramName = {})
        : SystemException(std::move(message)), paramName_(std::move(paramName)) {}
    const std::string& ParamName() const noexcept { return paramName_; }
    const char* TypeName() const noexcept override { return "System.ArgumentException"; }
    std::shared_ptr<Exception> Clone() const override {
        return std::make_shared<ArgumentException>(*this);
    }

  private:
    std::string paramName_;
};

class ArgumentNullException : public ArgumentException {
  public:
    explicit ArgumentNullException(std::string paramName = {})
        : ArgumentException("Value cannot be null.", std::move(paramName)) {}
    const char* TypeName() const noexcept override { return "System.ArgumentNullException"; }
    std::shared_ptr<Exception> Clone() const override {
        return std::make_shared<ArgumentNullException>(*this);
    }
};

class ArgumentOutOfRangeException : public ArgumentException {
  public:
    explicit ArgumentOutOfRangeException(std::string paramName = {})
        : ArgumentException("Specified argument was out of the range of valid values.",
                            std::move(paramName)) {}
    const char* TypeName() const noexcept override {
        return "System.ArgumentOutOfRangeException";
    }
    std::shared_ptr<Exception> Clone() const override {
        return std::make_shared<ArgumentOutOfRangeException>(*this);
    }
};

}  // namespace System
