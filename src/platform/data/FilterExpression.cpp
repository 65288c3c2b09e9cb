#include "platform/data/FilterExpression.h"

#include "platform/core/Exceptions.h"

namespace {

class Parser {
public:
    explicit Parser(const QString& text)
        : m_text(text) {}

    TFilterExpression parse() {
        TFilterExpression result;
        skipBlanks();
        result.fieldName = identifier();
        skipBlanks();
        if (peek() == QLatin1Char('=')) {
            ++m_pos;
            skipBlanks();
            result.values.append(value());
        } else if (keyword(QStringLiteral("in"))) {
            skipBlanks();
            expect(QLatin1Char('('));
            for (;;) {
                skipBlanks();
                result.values.append(value());
                skipBlanks();
                if (peek() == QLatin1Char(','))
                    ++m_pos;
                else
                    break;
            }
            expect(QLatin1Char(')'));
        } else {
            fail();
        }
        skipBlanks();
        if (m_pos != m_text.size())
            fail();
        return result;
    }

private:
    QChar peek() const { return m_pos < m_text.size() ? m_text.at(m_pos) : QChar(); }
    void skipBlanks() {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }
    [[noreturn]] void fail() const {
        throw EDatabaseError(QStringLiteral("Выражение фильтра «%1» не поддерживается: допустимы "
                                            "только «Поле = значение» и «Поле in (значение, …)»")
                                 .arg(m_text));
    }
    void expect(QChar c) {
        if (peek() != c)
            fail();
        ++m_pos;
    }
    static bool identChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

    QString identifier() {
        const qsizetype start = m_pos;
        if (!(peek().isLetter() || peek() == QLatin1Char('_')))
            fail();
        while (m_pos < m_text.size() && identChar(m_text.at(m_pos)))
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

    bool keyword(const QString& word) {
        if (m_text.mid(m_pos, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        const qsizetype end = m_pos + word.size();
        if (end < m_text.size() && identChar(m_text.at(end)))
            return false;
        m_pos = end;
        return true;
    }

    TFilterExpression::Value value() {
        TFilterExpression::Value v;
        if (peek() == QLatin1Char('\'')) {
            ++m_pos;
            for (;;) {
                if (m_pos >= m_text.size())
                    fail();
                const QChar c = m_text.at(m_pos++);
                if (c == QLatin1Char('\'')) {
                    if (peek() != QLatin1Char('\''))
                        break;
                    ++m_pos;
                }
                v.text.append(c);
            }
            v.quoted = true;
            return v;
        }
        const qsizetype start = m_pos;
        if (peek() == QLatin1Char('-') || peek() == QLatin1Char('+'))
            ++m_pos;
        while (m_pos < m_text.size() &&
               (m_text.at(m_pos).isDigit() || m_text.at(m_pos) == QLatin1Char('.')))
            ++m_pos;
        v.text = m_text.mid(start, m_pos - start);
        bool ok = false;
        v.text.toDouble(&ok);
        if (!ok)
            fail();
        return v;
    }

    const QString& m_text;
    qsizetype m_pos = 0;
};

} // namespace

TFilterExpression TFilterExpression::parse(const QString& text) {
    return Parser(text).parse();
}
