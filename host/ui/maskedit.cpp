#include "ui/maskedit.h"

#include <QKeyEvent>

#include "ui/handler.h"

namespace host {

namespace {

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
bool isAsciiLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// Characters that QLineEdit's mask notation reads as commands; as literals they need a '\'.
const QString kQtMaskSpecials = QStringLiteral("AaNnXx90Dd#HhBb><!\\[]{}");

// QLineEdit ends its mask at the first ';', escaped or not, so a ';' literal goes to it as the
// Greek question mark, which looks the same. The value keeps the mask's own ';'.
QChar qtLiteral(QChar c) {
    return c == QLatin1Char(';') ? QChar(0x037E) : c;
}

// Splits "pattern;save;blank" at the unescaped semicolons.
QStringList splitFields(const QString& mask) {
    QStringList parts;
    QString cur;
    for (int i = 0; i < mask.size(); ++i) {
        const QChar c = mask.at(i);
        if (c == QLatin1Char('\\') && parts.isEmpty() && i + 1 < mask.size()) {
            cur += c;
            cur += mask.at(++i);
        } else if (c == QLatin1Char(';') && parts.size() < 2) {
            parts << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts << cur;
    return parts;
}

}  // namespace

EditMask EditMask::parse(const QString& mask) {
    EditMask m;
    if (mask.isEmpty()) {
        return m;
    }
    const QStringList parts = splitFields(mask);
    const QString& pattern = parts.at(0);
    if (parts.size() > 1) {
        m.saveLiterals = parts.at(1).trimmed() != QLatin1String("0");
    }
    if (parts.size() > 2 && !parts.at(2).isEmpty()) {
        m.blank = parts.at(2).at(0);
    }

    Case caseMode = Case::None;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        Slot s;
        switch (c.unicode()) {
            case '>':
                if (i + 1 < pattern.size() && pattern.at(i + 1) == QLatin1Char('<')) {
                    caseMode = Case::None;
                    ++i;
                } else {
                    caseMode = Case::Upper;
                }
                continue;
            case '<':
                if (i + 1 < pattern.size() && pattern.at(i + 1) == QLatin1Char('>')) {
                    caseMode = Case::None;
                    ++i;
                } else {
                    caseMode = Case::Lower;
                }
                continue;
            case '!':
                continue;
            case '\\':
                if (i + 1 < pattern.size()) {
                    s.ch = pattern.at(++i);
                } else {
                    s.ch = c;
                }
                s.kind = Kind::Literal;
                break;
            case '0':
                s.kind = Kind::Digit;
                s.required = true;
                break;
            case '9':
                s.kind = Kind::Digit;
                break;
            case '#':
                s.kind = Kind::DigitOrSign;
                break;
            case 'L':
                s.kind = Kind::Letter;
                s.required = true;
                break;
            case 'l':
                s.kind = Kind::Letter;
                break;
            case 'A':
                s.kind = Kind::Alnum;
                s.required = true;
                break;
            case 'a':
                s.kind = Kind::Alnum;
                break;
            case 'C':
                s.kind = Kind::Any;
                s.required = true;
                break;
            case 'c':
                s.kind = Kind::Any;
                break;
            default:
                s.kind = Kind::Literal;
                s.ch = c;
                break;
        }
        s.caseMode = caseMode;
        m.positions.push_back(s);
    }
    return m;
}

QString EditMask::toInputMask() const {
    if (positions.empty()) {
        return QString();
    }
    QString out;
    Case current = Case::None;
    for (const Slot& s : positions) {
        if (s.kind != Kind::Literal && s.caseMode != current) {
            current = s.caseMode;
            out += current == Case::Upper   ? QLatin1Char('>')
                   : current == Case::Lower ? QLatin1Char('<')
                                            : QLatin1Char('!');
        }
        switch (s.kind) {
            case Kind::Literal:
                if (kQtMaskSpecials.contains(s.ch)) {
                    out += QLatin1Char('\\');
                }
                out += qtLiteral(s.ch);
                break;
            case Kind::Digit:
                out += s.required ? QLatin1Char('9') : QLatin1Char('0');
                break;
            case Kind::DigitOrSign:
                out += QLatin1Char('#');
                break;
            case Kind::Letter:
                out += s.required ? QLatin1Char('A') : QLatin1Char('a');
                break;
            case Kind::Alnum:
                out += s.required ? QLatin1Char('N') : QLatin1Char('n');
                break;
            case Kind::Any:
                out += s.required ? QLatin1Char('X') : QLatin1Char('x');
                break;
        }
    }
    out += QLatin1Char(';');
    out += blank;
    return out;
}

bool EditMask::accepts(const Slot& s, QChar c) {
    switch (s.kind) {
        case Kind::Literal:
            return false;
        case Kind::Digit:
            return isAsciiDigit(c);
        case Kind::DigitOrSign:
            return isAsciiDigit(c) || c == QLatin1Char('+') || c == QLatin1Char('-');
        case Kind::Letter:
            return isAsciiLetter(c);
        case Kind::Alnum:
            return isAsciiLetter(c) || isAsciiDigit(c);
        case Kind::Any:
            return c.isPrint() && c != QLatin1Char(' ');
    }
    return false;
}

QChar EditMask::applyCase(const Slot& s, QChar c) {
    switch (s.caseMode) {
        case Case::Upper:
            return c.toUpper();
        case Case::Lower:
            return c.toLower();
        case Case::None:
            break;
    }
    return c;
}

QString EditMask::place(const QString& value) const {
    QString out;
    out.reserve(int(positions.size()));
    int i = 0;
    const int n = value.size();
    for (const Slot& s : positions) {
        if (s.kind == Kind::Literal) {
            out += s.ch;
            if (i < n && value.at(i) == s.ch) {
                ++i;
            }
            continue;
        }
        QChar c = blank;
        while (i < n) {
            const QChar v = value.at(i++);
            if (accepts(s, v)) {
                c = applyCase(s, v);
                break;
            }
            if (v == QLatin1Char(' ') || v == blank) {
                break;
            }
        }
        out += c;
    }
    return out;
}

QString EditMask::valueOf(const QString& editText) const {
    QString out;
    bool any = false;
    const int n = std::min<int>(int(positions.size()), int(editText.size()));
    for (int i = 0; i < n; ++i) {
        const Slot& s = positions[size_t(i)];
        const QChar c = editText.at(i);
        if (s.kind == Kind::Literal) {
            if (saveLiterals) {
                out += s.ch;
            }
        } else if (c == blank || c == QLatin1Char(' ')) {
            if (saveLiterals) {
                out += QLatin1Char(' ');
            }
        } else {
            out += c;
            any = true;
        }
    }
    if (!any) {
        return QString();
    }
    if (saveLiterals) {
        while (out.endsWith(QLatin1Char(' '))) {
            out.chop(1);
        }
    }
    return out;
}

QString FormatMaskText(const QString& mask, const QString& value) {
    if (value.isEmpty()) {
        return QString();
    }
    const EditMask m = EditMask::parse(mask);
    if (m.isEmpty()) {
        return value;
    }
    return m.place(value);
}

// --- TMaskEdit ----------------------------------------------------------------------------

TMaskEdit::TMaskEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (m_busy == 0) {
            syncChanged();
        }
    });
}

void TMaskEdit::SetEditMask(const QString& mask) {
    if (mask == m_maskText) {
        return;
    }
    ++m_busy;
    const QString value = Text();
    m_maskText = mask;
    m_mask = EditMask::parse(mask);
    // Setting or clearing QLineEdit's own mask rewrites (or empties) the text, so the value
    // is laid out again over the new mask.
    setInputMask(m_mask.toInputMask());
    if (m_mask.isEmpty()) {
        QLineEdit::setMaxLength(m_maxLength > 0 ? m_maxLength : 32767);
    }
    applyText(value);
    --m_busy;
    syncChanged();
}

void TMaskEdit::SetMaxLength(int n) {
    m_maxLength = std::max(0, n);
    if (m_mask.isEmpty()) {
        ++m_busy;
        QLineEdit::setMaxLength(m_maxLength > 0 ? m_maxLength : 32767);
        --m_busy;
        syncChanged();
    }
}

QString TMaskEdit::Text() const {
    if (m_mask.isEmpty()) {
        return text();
    }
    return m_mask.valueOf(displayText());
}

void TMaskEdit::SetText(const QString& value) {
    ++m_busy;
    applyText(value);
    --m_busy;
    syncChanged();
}

void TMaskEdit::applyText(const QString& value) {
    if (m_mask.isEmpty()) {
        setText(value);
        return;
    }
    // QLineEdit lays a string over its mask itself but skips blank positions inside it, so it
    // gets the laid-out text without the trailing blanks and literals.
    QString laid = m_mask.place(value);
    int end = laid.size();
    while (end > 0) {
        const auto& s = m_mask.positions[size_t(end - 1)];
        if (s.kind == EditMask::Kind::Literal || laid.at(end - 1) == m_mask.blank) {
            --end;
        } else {
            break;
        }
    }
    laid.truncate(end);
    for (int i = 0; i < end; ++i) {
        if (m_mask.positions[size_t(i)].kind == EditMask::Kind::Literal) {
            laid[i] = qtLiteral(laid.at(i));
        }
    }
    setText(laid);
    // Typing goes on after what is there, not after the blanks.
    setCursorPosition(end);
}

void TMaskEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    const bool printable = typed.size() == 1 && typed.at(0).isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (!OnKeyPress || !printable || isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QString key = typed;
    if (!runHandler(this, [&] { OnKeyPress(key); })) {
        key.clear();
    }
    if (key.isEmpty()) {
        event->accept();
        return;
    }
    if (key == typed) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    QKeyEvent replaced(event->type(), event->key(), event->modifiers(), key.left(1),
                       event->isAutoRepeat(), ushort(event->count()));
    QLineEdit::keyPressEvent(&replaced);
    event->setAccepted(replaced.isAccepted());
}

void TMaskEdit::syncChanged() {
    // An edit with nothing typed is empty whatever mask lays its literals and blanks out.
    QString shown = displayText();
    if (!m_mask.isEmpty() && m_mask.valueOf(shown).isEmpty()) {
        shown.clear();
    }
    if (shown != m_lastShown) {
        m_lastShown = shown;
        emit changed();
    }
}

}  // namespace host
