#pragma once
#include <QString>

// An error of the object store as it is shown to the user.
struct StoreError {
    QString domain;
    int code = 0;
    QString description;
    QString failureReason;
    QString text() const { return failureReason.isEmpty() ? description : description + QLatin1Char(' ') + failureReason; }
};
