#pragma once

#include "Values.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The readers of a client's requests after the login: an SQL batch, RPC calls, a transaction
// request. Each throws ProtocolError when the bytes end early or hold what no client sends.
namespace sqlsim::tds {

struct RpcCall
{
    QString procedure;
    QList<Param> params;
};

struct TransactionRequest
{
    enum class Kind
    {
        Begin,
        Commit,
        Rollback,
        Other // distributed transactions and the like
    };
    Kind kind = Kind::Other;
    bool beginNew = false; // commit or rollback and begin the next at once
};

// tdsVersion: the negotiated one; from 7.2 on every request starts with ALL_HEADERS.
QString readSqlBatch(const QByteArray& payload, quint32 tdsVersion);
// Several calls in one request are separated by a batch flag.
QList<RpcCall> readRpcRequest(const QByteArray& payload, quint32 tdsVersion);
TransactionRequest readTransactionRequest(const QByteArray& payload, quint32 tdsVersion);

} // namespace sqlsim::tds
