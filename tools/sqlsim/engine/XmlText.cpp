#include "XmlText.h"

#include "SqlTypes.h"

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

// A well-formedness check in one pass that writes the serialised form as it goes. Messages and
// numbers are SQL Server's 94xx "XML parsing: line L, character C, ..." family
// (learn.microsoft.com "xml (Transact-SQL)", "Create instances of XML data": the parser refuses
// what is not well-formed; the stored instance drops the declaration and insignificant
// whitespace).
class XmlReader
{
public:
    XmlReader(const QString& text, bool unicodeSource) : m_s(text), m_unicode(unicodeSource) {}

    QString run()
    {
        if (!m_s.isEmpty() && m_s[0] == QChar(0xFEFF))
            m_i = 1;
        bool first = true;
        while (m_i < m_s.size()) {
            if (m_s[m_i] == u'<')
                markup(first);
            else
                text();
            first = false;
        }
        if (!m_open.isEmpty())
            endOfInput();
        flushText();
        return m_out;
    }

private:
    struct Open
    {
        QString name;
        QStringList prefixes; // declared on this element
    };

    const QString& m_s;
    bool m_unicode;
    qsizetype m_i = 0;
    QString m_out;
    QString m_text;           // character data not yet written
    bool m_startOpen = false; // a start tag written without its '>'
    QList<Open> m_open;

    [[noreturn]] void fail(int number, const QString& what, qsizetype at) const
    {
        at = std::clamp<qsizetype>(at, 0, std::max<qsizetype>(0, m_s.size() - 1));
        int line = 1;
        qsizetype lineStart = 0;
        for (qsizetype k = 0; k < at; ++k) {
            const QChar c = m_s[k];
            if (c == u'\n' || (c == u'\r' && (k + 1 >= m_s.size() || m_s[k + 1] != u'\n'))) {
                ++line;
                lineStart = k + 1;
            }
        }
        throw SqlError(number, u"XML parsing: line %1, character %2, %3"_s.arg(line)
                                   .arg(at - lineStart + 1)
                                   .arg(what));
    }
    [[noreturn]] void endOfInput() const
    {
        fail(9400, u"unexpected end of input"_s, m_s.size() - 1);
    }

    QChar peek(qsizetype ahead = 0) const
    {
        if (m_i + ahead >= m_s.size())
            endOfInput();
        return m_s[m_i + ahead];
    }
    bool lookingAt(QStringView what) const { return QStringView(m_s).mid(m_i).startsWith(what); }
    QChar take()
    {
        const QChar c = peek();
        checkChar(m_i);
        ++m_i;
        return c;
    }
    void expect(QChar c, int number, const QString& what)
    {
        if (peek() != c)
            fail(number, what, m_i);
        ++m_i;
    }

    // XML 1.0 Char: tab, LF, CR, U+0020 up, no lone surrogates, no U+FFFE/U+FFFF.
    void checkChar(qsizetype at) const
    {
        const QChar c = m_s[at];
        const char16_t u = c.unicode();
        bool ok = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xFFFD);
        if (c.isHighSurrogate())
            ok = at + 1 < m_s.size() && m_s[at + 1].isLowSurrogate();
        else if (c.isLowSurrogate())
            ok = at > 0 && m_s[at - 1].isHighSurrogate();
        if (!ok)
            fail(9420, u"illegal xml character"_s, at);
    }

    static bool isSpace(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }
    static bool isNameStart(QChar c)
    {
        return c.isLetter() || c == u'_' || c.isHighSurrogate() || c.unicode() >= 0x80;
    }
    static bool isNameChar(QChar c)
    {
        return isNameStart(c) || c.isDigit() || c == u'-' || c == u'.' || c.isLowSurrogate();
    }
    bool skipSpace()
    {
        const qsizetype from = m_i;
        while (isSpace(peek()))
            ++m_i;
        return m_i > from;
    }

    // A qualified name: prefix:local, one colon at most.
    QString qualifiedName()
    {
        const qsizetype from = m_i;
        if (!isNameStart(peek()))
            fail(9455, u"illegal qualified name character"_s, m_i);
        bool colon = false;
        while (true) {
            const QChar c = peek();
            if (c == u':') {
                if (colon || !isNameStart(peek(1)))
                    fail(9455, u"illegal qualified name character"_s, m_i);
                colon = true;
                ++m_i;
                continue;
            }
            if (!isNameChar(c))
                break;
            checkChar(m_i);
            ++m_i;
        }
        return m_s.mid(from, m_i - from);
    }

    // &lt; &#60; &#x3C; … in text or an attribute value; appends the character.
    void reference(QString& into)
    {
        const qsizetype amp = m_i;
        ++m_i;
        if (peek() == u'#') {
            ++m_i;
            const bool hex = peek() == u'x';
            if (hex)
                ++m_i;
            const qsizetype from = m_i;
            while (peek() != u';') {
                const QChar c = peek();
                const bool digit = hex ? isxdigit(c.toLatin1()) != 0 && c.unicode() < 0x80
                                       : c.isDigit() && c.unicode() < 0x80;
                if (!digit)
                    fail(hex ? 9416 : 9417,
                         hex ? u"hexadecimal digit expected"_s : u"decimal digit expected"_s, m_i);
                ++m_i;
            }
            bool ok = false;
            const uint code = m_s.mid(from, m_i - from).toUInt(&ok, hex ? 16 : 10);
            const bool legal =
                ok &&
                (code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
                 (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF));
            if (!legal)
                fail(9420, u"illegal xml character"_s, m_i);
            ++m_i;
            const char32_t c32 = code;
            into += QString::fromUcs4(&c32, 1);
            return;
        }
        if (!isNameStart(peek()))
            fail(9421, u"illegal name character"_s, m_i);
        const qsizetype from = m_i;
        while (isNameChar(peek()))
            ++m_i;
        const QString name = m_s.mid(from, m_i - from);
        if (peek() != u';')
            fail(9411, u"semicolon expected"_s, m_i);
        ++m_i;
        static const QHash<QString, QChar> predefined = {{u"lt"_s, u'<'},
                                                         {u"gt"_s, u'>'},
                                                         {u"amp"_s, u'&'},
                                                         {u"apos"_s, u'\''},
                                                         {u"quot"_s, u'"'}};
        const auto it = predefined.find(name);
        if (it == predefined.end())
            fail(9448, u"well formed check: undeclared entity"_s, amp);
        into += *it;
    }

    void text()
    {
        while (m_i < m_s.size() && m_s[m_i] != u'<') {
            const QChar c = m_s[m_i];
            if (c == u'&') {
                reference(m_text);
                continue;
            }
            checkChar(m_i);
            if (c == u'\r') {
                m_text += u'\n';
                ++m_i;
                if (m_i < m_s.size() && m_s[m_i] == u'\n')
                    ++m_i;
                continue;
            }
            m_text += c;
            ++m_i;
        }
    }

    // Content other than text is coming: the pending start tag closes, significant text goes
    // out. Text of whitespace alone is insignificant and dropped.
    void flushText()
    {
        const bool blank = std::all_of(m_text.cbegin(), m_text.cend(), isSpace);
        if (!m_text.isEmpty() && !blank) {
            closeStart();
            for (const QChar c : std::as_const(m_text)) {
                if (c == u'&')
                    m_out += u"&amp;"_s;
                else if (c == u'<')
                    m_out += u"&lt;"_s;
                else if (c == u'>')
                    m_out += u"&gt;"_s;
                else
                    m_out += c;
            }
        }
        m_text.clear();
    }
    void closeStart()
    {
        if (m_startOpen) {
            m_out += u'>';
            m_startOpen = false;
        }
    }

    void markup(bool first)
    {
        if (lookingAt(u"<!--")) {
            flushText();
            closeStart();
            const qsizetype from = m_i;
            m_i += 4;
            while (!lookingAt(u"-->")) {
                if (m_i >= m_s.size())
                    endOfInput();
                checkChar(m_i);
                ++m_i;
            }
            m_i += 3;
            m_out += m_s.mid(from, m_i - from);
            return;
        }
        if (lookingAt(u"<![CDATA[")) {
            m_i += 9;
            while (!lookingAt(u"]]>")) {
                if (m_i >= m_s.size())
                    endOfInput();
                checkChar(m_i);
                m_text += m_s[m_i] == u'\r' ? u'\n' : m_s[m_i];
                if (m_s[m_i] == u'\r' && m_i + 1 < m_s.size() && m_s[m_i + 1] == u'\n')
                    ++m_i;
                ++m_i;
            }
            m_i += 3;
            // Text from a CDATA section counts even when it is blank.
            if (std::all_of(m_text.cbegin(), m_text.cend(), isSpace) && !m_text.isEmpty()) {
                closeStart();
                m_out += m_text;
                m_text.clear();
            }
            return;
        }
        if (lookingAt(u"<!DOCTYPE")) {
            flushText();
            while (peek() != u'>') {
                // An internal subset needs CONVERT style 2 (learn.microsoft.com
                // "CAST and CONVERT": xml styles).
                if (peek() == u'[')
                    throw SqlError(6359,
                                   u"Parsing XML with internal subset DTDs not allowed. Use "
                                   "CONVERT with style option 2 to enable limited internal subset "
                                   "DTD support."_s);
                ++m_i;
            }
            ++m_i;
            return;
        }
        if (lookingAt(u"<?")) {
            processingInstruction(first);
            return;
        }
        if (lookingAt(u"</")) {
            endTag();
            return;
        }
        startTag();
    }

    void processingInstruction(bool first)
    {
        const qsizetype from = m_i;
        m_i += 2;
        const QString target = qualifiedName();
        const bool declaration = target.compare(u"xml"_s, Qt::CaseInsensitive) == 0;
        if (declaration && (!first || (from > 0 && m_s[0] != QChar(0xFEFF)) ||
                            (from > 1 && m_s[0] == QChar(0xFEFF))))
            fail(9438, u"text/xmldecl not at the beginning of input"_s, m_i - 1);
        const qsizetype body = m_i;
        while (!lookingAt(u"?>")) {
            if (m_i >= m_s.size())
                endOfInput();
            checkChar(m_i);
            ++m_i;
        }
        m_i += 2;
        if (declaration) {
            // nvarchar text is UTF-16 already: a declaration naming another encoding cannot
            // be followed, nor UTF-16 in 8-bit text.
            static const QRegularExpression encodingRe(u"encoding\\s*=\\s*[\"']([^\"']*)[\"']"_s);
            const auto m = encodingRe.match(m_s.mid(body, m_i - 2 - body));
            if (m.hasMatch()) {
                const QString enc = m.captured(1).toLower();
                const bool sixteen = enc == u"utf-16" || enc == u"ucs-2";
                if (sixteen != m_unicode)
                    fail(9402, u"unable to switch the encoding"_s, m_i - 1);
            }
            return;
        }
        flushText();
        closeStart();
        m_out += m_s.mid(from, m_i - from);
    }

    bool declared(const QString& prefix) const
    {
        if (prefix == u"xml" || prefix == u"xmlns")
            return true;
        for (const Open& o : m_open)
            if (o.prefixes.contains(prefix))
                return true;
        return false;
    }

    void startTag()
    {
        flushText();
        closeStart();
        ++m_i;
        Open element;
        element.name = qualifiedName();
        QString tag = u'<' + element.name;
        QSet<QString> names;
        QStringList used;
        if (element.name.contains(u':'))
            used << element.name.section(u':', 0, 0);
        while (true) {
            const bool space = skipSpace();
            const QChar c = peek();
            if (c == u'>' || c == u'/')
                break;
            if (!space)
                fail(9410, u"whitespace expected"_s, m_i);
            const qsizetype nameAt = m_i;
            const QString name = qualifiedName();
            if (names.contains(name))
                fail(9465, u"duplicate attribute"_s, nameAt);
            names.insert(name);
            skipSpace();
            expect(u'=', 9414, u"equal expected"_s);
            skipSpace();
            const QChar quote = peek();
            if (quote != u'"' && quote != u'\'')
                fail(9413, u"A string literal was expected"_s, m_i);
            ++m_i;
            QString value;
            while (peek() != quote) {
                const QChar v = peek();
                if (v == u'<')
                    fail(9415, u"well formed check: no '<' in attribute value"_s, m_i);
                if (v == u'&') {
                    reference(value);
                    continue;
                }
                checkChar(m_i);
                // Attribute-value normalisation: each white-space character becomes a space,
                // CR LF one space.
                if (v == u'\r' && m_i + 1 < m_s.size() && m_s[m_i + 1] == u'\n')
                    ++m_i;
                value += isSpace(v) ? u' ' : v;
                ++m_i;
            }
            ++m_i;
            if (name == u"xmlns" || name.startsWith(u"xmlns:"_s))
                element.prefixes << (name == u"xmlns" ? QString() : name.mid(6));
            else if (name.contains(u':'))
                used << name.section(u':', 0, 0);
            tag += u' ' + name + u"=\""_s;
            for (const QChar ch : std::as_const(value)) {
                if (ch == u'&')
                    tag += u"&amp;"_s;
                else if (ch == u'<')
                    tag += u"&lt;"_s;
                else if (ch == u'>')
                    tag += u"&gt;"_s;
                else if (ch == u'"')
                    tag += u"&quot;"_s;
                else
                    tag += ch;
            }
            tag += u'"';
        }
        m_open.push_back(element);
        for (const QString& prefix : std::as_const(used))
            if (!declared(prefix))
                fail(9459, u"undeclared prefix"_s, m_i);
        m_out += tag;
        if (peek() == u'/') {
            ++m_i;
            expect(u'>', 9412, u"'>' expected"_s);
            m_out += u" />"_s;
            m_open.pop_back();
            return;
        }
        ++m_i;
        m_startOpen = true;
    }

    void endTag()
    {
        flushText();
        m_i += 2;
        const QString name = qualifiedName();
        skipSpace();
        expect(u'>', 9412, u"'>' expected"_s);
        if (m_open.isEmpty() || m_open.last().name != name)
            fail(9436, u"end tag does not match start tag"_s, m_i - 1);
        m_open.pop_back();
        if (m_startOpen) {
            m_out += u" />"_s;
            m_startOpen = false;
        } else {
            m_out += u"</"_s + name + u'>';
        }
    }
};

} // namespace

QString checkedXml(const QString& text, bool unicodeSource)
{
    return XmlReader(text, unicodeSource).run();
}

QString xmlTextOfBytes(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE")) {
        const QByteArray body = bytes.mid(2);
        return QString(reinterpret_cast<const QChar*>(body.constData()), body.size() / 2);
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    return QString::fromUtf8(bytes);
}

} // namespace sqlsim
