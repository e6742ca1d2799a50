#pragma once

#include "ServerConnection.h"

namespace fuzz {

// The window's connection fields, kept as plain values: what a reader puts there is checked
// afterwards. A fuzz run never connects.
class Panel : public ConnectionPanel
{
public:
    explicit Panel(bool authorization) : tick(authorization) {}

    QString serverText = QStringLiteral("init-server");
    QString userText = QStringLiteral("init-user");
    QString passwordText = QStringLiteral("init-password");
    bool tick;

    QString server() const override { return serverText; }
    void setServer(const QString& text) override { serverText = text; }
    QString userName() const override { return userText; }
    void setUserName(const QString& text) override { userText = text; }
    QString password() const override { return passwordText; }
    void setPassword(const QString& text) override { passwordText = text; }
    bool isAuthorization() const override { return tick; }
    void setAuthorization(bool on) override { tick = on; }
    void showConnected(bool, const QString&) override {}
};

} // namespace fuzz
