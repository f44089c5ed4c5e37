#pragma once

#include <QString>

#include <exception>

// Every failure of the system is an exception carrying its message text; the boundaries that must not
// stop the system catch it and log the text.
class EVitrelleError : public std::exception
{
public:
    explicit EVitrelleError(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8()) {}

    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// Errors of the XML layer (parser, XPath, saving).
class EXmlError : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// Errors of file and folder operations.
class EFileError : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};

// An index outside the valid range of a list.
class EOutOfRange : public EVitrelleError
{
public:
    using EVitrelleError::EVitrelleError;
};
