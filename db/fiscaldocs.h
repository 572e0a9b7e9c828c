#pragma once

#include <QString>

// Check digits of the Brazilian fiscal identifiers: CNPJ (numeric and alphanumeric), CPF and
// the 44-character NF-e access key. Pure functions, shared by the client's lookups, the demo
// data and the application server.
namespace fiscal {

// Removes the display-mask characters a typed or pasted number may carry: ". / - ( ) ," and
// blanks. Nothing else is touched.
QString stripMask(const QString& text);

// CNPJ: 12 base characters (0-9 or A-Z; a letter weighs its ASCII code minus 48) followed by two
// numeric check digits. Lower-case letters are not accepted: the number is stored upper-case.
bool isValidCnpj(const QString& cnpj);
// The two check digits of a 12-character base. A base of another length or with characters
// outside 0-9/A-Z raises host::EHostError.
QString cnpjCheckDigits(const QString& base12);
// Base plus its check digits.
QString completeCnpj(const QString& base12);
// True when the first 12 characters hold at least one letter.
bool isAlphanumericCnpj(const QString& cnpj);

// CPF: 9 digits followed by two check digits; a number of one repeated digit is invalid.
bool isValidCpf(const QString& cpf);
QString cpfCheckDigits(const QString& base9);
QString completeCpf(const QString& base9);

// Person-type code "J" (CNPJ) or "F" (CPF) and the number's validity for that type.
bool isValidRegistration(const QString& personType, const QString& number);

// Display masks: CNPJ 99.999.999/9999-99 (letters kept as typed), CPF 999.999.999-99. A value of
// the wrong length comes back unchanged.
QString formatCnpj(const QString& cnpj);
QString formatCpf(const QString& cpf);

// NF-e access key: 43 characters and a check digit (weights 2..9 repeating from the right,
// modulo 11, 0 when the remainder is 0 or 1). All digits, except the base of the issuer's CNPJ
// (characters 7 to 18), which may hold upper-case letters; its check digits (19, 20) are digits.
int accessKeyCheckDigit(const QString& first43);  // bad input: host::EHostError
bool isValidAccessKey(const QString& key44);

}  // namespace fiscal
