#pragma once

#include "Connection.h"
#include "NameValueList.h"
#include "OperatorUi.h"
#include "PathMacros.h"
#include "ServerConnection.h"

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class TFormDB;
}
class TAttachTab;
class TRestoreTab;
class TSqlQueryTab;
class QLineEdit;

// The main window: the connection panel on top, the three working tabs below, and the state
// every operation shares. Each tab is a class of its own that reaches this state through the
// window.
class TFormDB : public QWidget, private ConnectionPanel
{
    Q_OBJECT

public:
    // programDir holds settings.ini and dbs.xml (the executable's folder; tests give their own).
    explicit TFormDB(OperatorUi& operatorUi, const QString& programDir = GetAppDir(),
                     QWidget* parent = nullptr);
    ~TFormDB() override;

    static QString captionPrefix();

    QString _ConnectString;
    QString _InstallDir;
    QString _CurrentDBName;
    QString _ApprNamePathName;
    qint64 _MaxSizeAddDB = 0;
    QString _DBNameFileAdd;
    NameValueList _ListDBPath;

    // The one connection to the server, and the console's result set (also used by the list's
    // identity probe).
    db::Connection Connection;
    std::unique_ptr<db::RecordSet> CommonQuery;
    // Tidies the restore tab's backup file name half a second after it was set.
    QTimer Timer1;

    OperatorUi& operatorUi() const { return m_operator; }
    TAttachTab* attachTab() const;
    TRestoreTab* restoreTab() const;
    TSqlQueryTab* sqlQueryTab() const;

    bool ConnectServer();
    void RefreshListDB();
    QString GetLastBackupFile();

    // The connection panel's handlers.
    void ServerExit();
    void BRefreshConnectClick();
    void isAuthorizationClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Start-up: runs once while the window is created; an error ends it and is reported.
    void FormCreate();
    // Reads settings.ini into the panel, the tabs and the state fields.
    void ReadSettings(const QString& path);
    void Timer1Timer();

    // ConnectionPanel
    QString server() const override;
    void setServer(const QString& text) override;
    QString userName() const override;
    void setUserName(const QString& text) override;
    QString password() const override;
    void setPassword(const QString& text) override;
    bool isAuthorization() const override;
    void setAuthorization(bool on) override;
    void showConnected(bool connected) override;

    std::unique_ptr<Ui::TFormDB> ui;
    OperatorUi& m_operator;
    QString m_programDir;
    ServerConnection m_server;
    bool m_starting = false;
    bool m_closing = false;
};
