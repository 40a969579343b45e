#pragma once

#include "Clipboard.h"

#include <QStringList>

#include <optional>

// A clipboard that remembers what was done to it and can refuse a number of attempts first.
class FakeClipboard final : public Clipboard
{
public:
    bool clear() override
    {
        ++clearAttempts;
        if (refusals > 0) {
            --refusals;
            return false;
        }
        text.reset();
        return true;
    }
    bool setText(const QString& value) override
    {
        ++setAttempts;
        if (refusals > 0) {
            --refusals;
            return false;
        }
        text = value;
        return true;
    }

    std::optional<QString> text = QStringLiteral("what was there before");
    int refusals = 0;
    int clearAttempts = 0;
    int setAttempts = 0;
};
