#pragma once

#include <QIODevice>

// Passes writes through to a device until a budget of bytes is spent, then fails as a full disk
// does (the write that does not fit puts out what fits first).
class FullDisk : public QIODevice
{
public:
    FullDisk(QIODevice& target, qint64 budget) : m_target(target), m_budget(budget)
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override
    {
        const qint64 room = m_budget - m_written;
        if (length > room) {
            if (room > 0)
                m_target.write(data, room);
            m_written = m_budget;
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_written += length;
        return m_target.write(data, length);
    }

private:
    QIODevice& m_target;
    qint64 m_budget;
    qint64 m_written = 0;
};
