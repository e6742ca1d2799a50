#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

// A bare TDS client over a socket, for what no ODBC driver sends: RPC parameters named as a
// test chooses, a connection dropped without a word. It reads replies without result sets
// only (messages, return status, DONE tokens); a statement that returns rows fails the read.
class RawTdsClient
{
public:
    struct Message
    {
        int number = 0;
        int severity = 0;
        QString text;
    };
    struct Reply
    {
        bool received = false; // a whole reply arrived and was understood
        QString problem;       // why not
        QList<Message> errors; // severity > 10
        QList<Message> infos;  // PRINT and the like
        QList<int> returnStatus;
        QList<QVariant> outputs; // RETURNVALUE tokens of int parameters, in order
    };
    // An RPC parameter: qint64 → INT, QString → NVARCHAR(4000), null QVariant → NULL NVARCHAR.
    struct Param
    {
        QString name; // with @, or empty for a positional one
        QVariant value;
        bool output = false;
    };

    RawTdsClient() = default;
    ~RawTdsClient();
    RawTdsClient(const RawTdsClient&) = delete;
    RawTdsClient& operator=(const RawTdsClient&) = delete;

    // PRELOGIN without encryption, then LOGIN7 with SQL Server authentication.
    Reply connect(quint16 port, const QString& user, const QString& password,
                  const QString& database = {});
    Reply batch(const QString& sql);
    Reply rpc(const QString& procedure, const QList<Param>& params);
    // Closes the socket without saying anything, as a client that goes away does.
    void close();

private:
    bool sendMessage(quint8 type, const QByteArray& payload);
    bool readMessage(QByteArray* payload);
    Reply readReply();

    int m_fd = -1;
};
