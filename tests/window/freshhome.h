// SPDX-License-Identifier: MIT
// What every window test starts from: empty XDG folders of its own, so that
// nothing kept by an earlier test or by the user is read, and the
// calculator as a user starts it.
#pragma once

#include "calculator.h"
#include "dispatch.h"

#include <QTemporaryDir>

#include <memory>

inline std::unique_ptr<QTemporaryDir> freshHome() {
    auto home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_STATE_HOME", home->filePath("state").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home->filePath("config").toLocal8Bit());
    return home;
}

inline std::unique_ptr<Calculator> shownCalculator() {
    auto calc = std::make_unique<Calculator>(&quillo::dispatch, QStringLiteral("Quillo-v2"));
    calc->show();
    return calc;
}
