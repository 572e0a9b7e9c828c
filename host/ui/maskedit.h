#pragma once

#include <QLineEdit>
#include <QString>
#include <functional>
#include <vector>

namespace host {

// Edit masks in the old toolkit's notation: "pattern;save;blank".
//
// Pattern characters:
//   0  digit, required          9  digit, optional        #  digit or sign, optional
//   L  letter, required         l  letter, optional
//   A  letter or digit, required a  letter or digit, optional
//   C  any character, required  c  any character, optional
//   >  upper-case what follows  <  lower-case what follows  <>  no case change
//   \  the next character is a literal        !  accepted and ignored
// Every other character is a literal shown in place ('.', '/', '-', ':', ' ' ...).
//
// Letters are plain ASCII A-Z / a-z. An alphanumeric CNPJ (letters allowed in its first twelve
// positions) is written with 'a' positions under '>': ">aa.aaa.aaa/aaaa-99;0;_" accepts
// "digit or upper letter" there (lower case typed is raised) and digits only in the check
// digits.
//
// save: '0' keeps the literals out of the value (Text()), anything else keeps them in.
// blank: the character shown in empty positions (default '_').
struct EditMask {
    enum class Kind { Literal, Digit, DigitOrSign, Letter, Alnum, Any };
    enum class Case { None, Upper, Lower };
    struct Slot {
        Kind kind = Kind::Literal;
        QChar ch;  // the literal character
        bool required = false;
        Case caseMode = Case::None;
    };

    std::vector<Slot> positions;
    bool saveLiterals = true;
    QChar blank = QLatin1Char('_');

    bool isEmpty() const { return positions.empty(); }
    // Parses the old notation; an empty string gives an empty mask.
    static EditMask parse(const QString& mask);
    // The same mask in QLineEdit::setInputMask notation.
    QString toInputMask() const;
    // Whether c may go into the input slot, and the character actually stored there.
    static bool accepts(const Slot& s, QChar c);
    static QChar applyCase(const Slot& s, QChar c);
    // The value laid over the mask: literals in place, one value character per input position
    // (characters no position accepts are skipped, a space leaves its position blank), the
    // positions left over shown as blank.
    QString place(const QString& value) const;
    // The value held by a laid-out text: input positions that are not blank, plus the
    // literals when saveLiterals (then unfilled positions read as spaces, trailing ones cut).
    QString valueOf(const QString& editText) const;
};

// The value formatted with the mask, for lists (a CNPJ or CPF column). An empty value gives an
// empty text; a value without mask comes back unchanged.
QString FormatMaskText(const QString& mask, const QString& value);

// A line edit with the old toolkit's edit masks.
//
// Text() is the value (without literals when the mask says save=0); EditText() is what the user
// sees. changed() is the old OnChange: it is emitted once each time what the edit shows
// actually changes, whether by typing, by SetText or by SetEditMask re-laying the value (a mask
// change that leaves the shown text alone emits nothing, and an edit with nothing typed counts
// as empty whatever literals and blanks its mask shows). Block it with QSignalBlocker to
// "detach" the change handler around a programmatic change.
class TMaskEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit TMaskEdit(QWidget* parent = nullptr);

    QString EditMaskText() const { return m_maskText; }
    // Changes the mask at run time, keeping the value (Text()); empty removes the mask.
    void SetEditMask(const QString& mask);
    const EditMask& Mask() const { return m_mask; }

    // Maximum number of characters when there is no mask (the mask's own length rules
    // otherwise). 0 means no limit.
    int MaxLength() const { return m_maxLength; }
    void SetMaxLength(int n);

    QString Text() const;
    void SetText(const QString& value);
    QString EditText() const { return displayText(); }
    void Clear() { SetText(QString()); }

    bool ReadOnly() const { return isReadOnly(); }
    void SetReadOnly(bool ro) { setReadOnly(ro); }

    // The old OnKeyPress: runs, inside the host's handler boundary, for each printable
    // character typed before the edit takes it. The handler may replace the key (one
    // character) or empty it to refuse the key; a handler that stops refuses it too.
    std::function<void(QString& key)> OnKeyPress;

  signals:
    void changed();

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void applyText(const QString& value);
    void syncChanged();

    QString m_maskText;
    EditMask m_mask;
    int m_maxLength = 0;
    int m_busy = 0;
    QString m_lastShown;
};

}  // namespace host
