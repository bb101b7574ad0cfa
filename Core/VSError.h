#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The system's own error: one human-readable message, shown to the user unchanged.
class VSError : public std::exception {
public:
    explicit VSError(QString message);

    const char *what() const noexcept override;

    QString message;

private:
    QByteArray utf8;
};
