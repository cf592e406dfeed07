// The program's general exception: a message text and a help context. Every
// exception that the program throws for the operator to read derives from it.
#pragma once

#include <exception>

#include <QByteArray>
#include <QString>

class Exception : public std::exception {
public:
    explicit Exception(QString message, int helpContext = 0);

    const QString &Message() const noexcept { return message_; }
    int HelpContext() const noexcept { return helpContext_; }
    const char *what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
    int helpContext_;
};
