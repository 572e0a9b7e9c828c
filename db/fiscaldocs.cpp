#include "fiscaldocs.h"

#include "core/hosterror.h"

namespace fiscal {

namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
bool isUpperLetter(QChar c) {
    return c >= u'A' && c <= u'Z';
}

// Value of one base character in the weighted sums: its ASCII code minus 48, so digits keep
// their value and 'A' counts 17.
int charValue(QChar c) {
    return c.unicode() - 48;
}

// Modulo-11 check digit over text with the weights 2, 3, ... maxWeight applied from the right,
// wrapping back to 2 after maxWeight.
int mod11Digit(const QString& text, int maxWeight) {
    int sum = 0;
    int weight = 2;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        sum += charValue(text.at(i)) * weight;
        weight = weight == maxWeight ? 2 : weight + 1;
    }
    const int r = sum % 11;
    return r < 2 ? 0 : 11 - r;
}

bool allDigits(const QString& s) {
    for (QChar c : s) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

bool validCnpjBase(const QString& base) {
    if (base.size() != 12) {
        return false;
    }
    for (QChar c : base) {
        if (!isDigit(c) && !isUpperLetter(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

QString stripMask(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == u'.' || c == u'/' || c == u'-' || c == u'(' || c == u')' || c == u',' ||
            c.isSpace()) {
            continue;
        }
        out.append(c);
    }
    return out;
}

QString cnpjCheckDigits(const QString& base12) {
    if (!validCnpjBase(base12)) {
        throw host::EHostError(
            QStringLiteral("Base de CNPJ inválida: \"%1\" (12 caracteres, 0-9 ou A-Z).")
                .arg(base12));
    }
    // CNPJ weights run 2..9 from the right, which gives 5,4,3,2,9,...,2 over 12 characters and
    // 6,5,4,3,2,9,...,2 over 13.
    const int d1 = mod11Digit(base12, 9);
    const int d2 = mod11Digit(base12 + QString::number(d1), 9);
    return QString::number(d1) + QString::number(d2);
}

QString completeCnpj(const QString& base12) {
    return base12 + cnpjCheckDigits(base12);
}

bool isValidCnpj(const QString& cnpj) {
    if (cnpj.size() != 14) {
        return false;
    }
    const QString base = cnpj.left(12);
    if (!validCnpjBase(base) || !allDigits(cnpj.right(2))) {
        return false;
    }
    if (cnpj == QString(14, u'0')) {
        return false;
    }
    return cnpjCheckDigits(base) == cnpj.right(2);
}

bool isAlphanumericCnpj(const QString& cnpj) {
    for (QChar c : cnpj.left(12)) {
        if (isUpperLetter(c)) {
            return true;
        }
    }
    return false;
}

QString cpfCheckDigits(const QString& base9) {
    if (base9.size() != 9 || !allDigits(base9)) {
        throw host::EHostError(
            QStringLiteral("Base de CPF inválida: \"%1\" (9 dígitos).").arg(base9));
    }
    // CPF weights 10..2 and 11..2: never wrap within 9 or 10 characters.
    const int d1 = mod11Digit(base9, 11);
    const int d2 = mod11Digit(base9 + QString::number(d1), 11);
    return QString::number(d1) + QString::number(d2);
}

QString completeCpf(const QString& base9) {
    return base9 + cpfCheckDigits(base9);
}

bool isValidCpf(const QString& cpf) {
    if (cpf.size() != 11 || !allDigits(cpf)) {
        return false;
    }
    if (cpf == QString(11, cpf.at(0))) {
        return false;
    }
    return cpfCheckDigits(cpf.left(9)) == cpf.right(2);
}

bool isValidRegistration(const QString& personType, const QString& number) {
    if (personType == u"J") {
        return isValidCnpj(number);
    }
    if (personType == u"F") {
        return isValidCpf(number);
    }
    return false;
}

QString formatCnpj(const QString& cnpj) {
    if (cnpj.size() != 14) {
        return cnpj;
    }
    return QStringLiteral("%1.%2.%3/%4-%5")
        .arg(cnpj.mid(0, 2), cnpj.mid(2, 3), cnpj.mid(5, 3), cnpj.mid(8, 4), cnpj.mid(12, 2));
}

QString formatCpf(const QString& cpf) {
    if (cpf.size() != 11) {
        return cpf;
    }
    return QStringLiteral("%1.%2.%3-%4")
        .arg(cpf.mid(0, 3), cpf.mid(3, 3), cpf.mid(6, 3), cpf.mid(9, 2));
}

// Key characters: digits everywhere, except that the base of the issuer's CNPJ (positions 7 to
// 18) may hold upper-case letters; the CNPJ's own check digits (19 and 20) stay numeric. Letters
// weigh as in the CNPJ check digits.
static bool validKeyBody(const QString& body) {
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body.at(i);
        if (!isDigit(c) && !(i >= 6 && i < 18 && isUpperLetter(c))) {
            return false;
        }
    }
    return true;
}

int accessKeyCheckDigit(const QString& first43) {
    if (first43.size() != 43 || !validKeyBody(first43)) {
        throw host::EHostError(
            QStringLiteral("Chave de acesso inválida: \"%1\" (43 caracteres antes do dígito "
                           "verificador).")
                .arg(first43));
    }
    return mod11Digit(first43, 9);
}

bool isValidAccessKey(const QString& key44) {
    if (key44.size() != 44 || !validKeyBody(key44.left(43)) || !isDigit(key44.at(43))) {
        return false;
    }
    return accessKeyCheckDigit(key44.left(43)) == key44.at(43).unicode() - u'0';
}

}  // namespace fiscal
