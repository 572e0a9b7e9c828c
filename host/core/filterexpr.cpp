#include "core/filterexpr.h"

#include "core/packet.h"

namespace host {

namespace {

struct Token {
    enum Kind { End, Ident, Text, Number, Op, LParen, RParen, And, Or, Not } kind = End;
    QString text;
    FilterExpr::Op op = FilterExpr::Op::Eq;
    int pos = 0;
};

}  // namespace

class FilterParser {
  public:
    FilterParser(const QString& expr, const FilterExpr::Resolver& resolve, FilterExpr& out)
        : m_expr(expr), m_resolve(resolve), m_out(out) {
        tokenize();
    }

    void parse() {
        if (m_tokens.front().kind == Token::End) {
            return;  // blank expression: no filter
        }
        m_out.m_root = parseOr();
        if (peek().kind != Token::End) {
            fail(QStringLiteral("\"%1\" inesperado").arg(peek().text));
        }
    }

  private:
    [[noreturn]] void fail(const QString& what, int pos = -1) const {
        if (pos < 0) {
            pos = m_i < m_tokens.size() ? m_tokens[m_i].pos : int(m_expr.size());
        }
        // One arg() for all three: the expression's own text may hold "%1" and the like.
        throw EDataSetError(QStringLiteral("Filtro inválido \"%1\": %2 (posição %3).")
                                .arg(m_expr, what, QString::number(pos + 1)));
    }

    void tokenize() {
        const int n = int(m_expr.size());
        int i = 0;
        while (i < n) {
            const QChar c = m_expr[i];
            if (c.isSpace()) {
                ++i;
                continue;
            }
            Token t;
            t.pos = i;
            if (c == u'(') {
                t.kind = Token::LParen;
                t.text = c;
                ++i;
            } else if (c == u')') {
                t.kind = Token::RParen;
                t.text = c;
                ++i;
            } else if (c == u'\'') {
                t.kind = Token::Text;
                ++i;
                bool closed = false;
                while (i < n) {
                    if (m_expr[i] == u'\'') {
                        if (i + 1 < n && m_expr[i + 1] == u'\'') {
                            t.text += u'\'';
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    t.text += m_expr[i++];
                }
                if (!closed) {
                    m_i = m_tokens.size();
                    fail(QStringLiteral("texto sem aspa de fechamento"), t.pos);
                }
            } else if (c == u'=' || c == u'<' || c == u'>' || c == u'!') {
                const QChar next = i + 1 < n ? m_expr[i + 1] : QChar();
                t.kind = Token::Op;
                if (c == u'=') {
                    t.op = FilterExpr::Op::Eq;
                    i += 1;
                } else if (c == u'<' && next == u'>') {
                    t.op = FilterExpr::Op::Ne;
                    i += 2;
                } else if (c == u'!' && next == u'=') {
                    t.op = FilterExpr::Op::Ne;
                    i += 2;
                } else if (c == u'<' && next == u'=') {
                    t.op = FilterExpr::Op::Le;
                    i += 2;
                } else if (c == u'>' && next == u'=') {
                    t.op = FilterExpr::Op::Ge;
                    i += 2;
                } else if (c == u'<') {
                    t.op = FilterExpr::Op::Lt;
                    i += 1;
                } else if (c == u'>') {
                    t.op = FilterExpr::Op::Gt;
                    i += 1;
                } else {
                    fail(QStringLiteral("caractere \"!\" inesperado"), i);
                }
                t.text = m_expr.mid(t.pos, i - t.pos);
            } else if (c.isDigit() || ((c == u'-' || c == u'+') && i + 1 < n &&
                                       (m_expr[i + 1].isDigit() || m_expr[i + 1] == u'.'))) {
                t.kind = Token::Number;
                t.text += c;
                ++i;
                while (i < n && (m_expr[i].isDigit() || m_expr[i] == u'.')) {
                    t.text += m_expr[i++];
                }
            } else if (c.isLetter() || c == u'_') {
                while (i < n && (m_expr[i].isLetterOrNumber() || m_expr[i] == u'_')) {
                    t.text += m_expr[i++];
                }
                const QString up = t.text.toUpper();
                t.kind = up == u"AND"   ? Token::And
                         : up == u"OR"  ? Token::Or
                         : up == u"NOT" ? Token::Not
                                        : Token::Ident;
            } else if (c == u'[') {
                t.kind = Token::Ident;
                ++i;
                while (i < n && m_expr[i] != u']') {
                    t.text += m_expr[i++];
                }
                if (i >= n) {
                    fail(QStringLiteral("nome de campo sem \"]\""), t.pos);
                }
                ++i;
            } else {
                fail(QStringLiteral("caractere \"%1\" inesperado").arg(c), i);
            }
            m_tokens.push_back(t);
        }
        Token end;
        end.pos = n;
        m_tokens.push_back(end);
    }

    const Token& peek() const { return m_tokens[m_i]; }
    const Token& take() { return m_tokens[m_i++]; }

    int addNode(FilterExpr::Node::Kind kind, int a, int b = -1) {
        FilterExpr::Node node;
        node.kind = kind;
        node.a = a;
        node.b = b;
        m_out.m_nodes.push_back(node);
        return int(m_out.m_nodes.size()) - 1;
    }

    int parseOr() {
        int left = parseAnd();
        while (peek().kind == Token::Or) {
            take();
            left = addNode(FilterExpr::Node::Or, left, parseAnd());
        }
        return left;
    }

    int parseAnd() {
        int left = parseNot();
        while (peek().kind == Token::And) {
            take();
            left = addNode(FilterExpr::Node::And, left, parseNot());
        }
        return left;
    }

    int parseNot() {
        if (++m_depth > 200) {
            fail(QStringLiteral("expressão aninhada demais"));
        }
        int result;
        if (peek().kind == Token::Not) {
            take();
            result = addNode(FilterExpr::Node::Not, parseNot());
        } else if (peek().kind == Token::LParen) {
            take();
            result = parseOr();
            if (peek().kind != Token::RParen) {
                fail(peek().kind == Token::End
                         ? QStringLiteral("falta \")\"")
                         : QStringLiteral("esperado \")\" e não \"%1\"").arg(peek().text));
            }
            take();
        } else {
            result = parseComparison();
        }
        --m_depth;
        return result;
    }

    int parseComparison() {
        const Token first = take();
        if (first.kind == Token::End) {
            fail(QStringLiteral("expressão incompleta"), first.pos);
        }
        if (first.kind != Token::Ident && first.kind != Token::Text &&
            first.kind != Token::Number) {
            fail(QStringLiteral("esperado um campo e não \"%1\"").arg(first.text), first.pos);
        }
        const Token opTok = take();
        if (opTok.kind != Token::Op) {
            fail(opTok.kind == Token::End
                     ? QStringLiteral("falta o operador depois de \"%1\"").arg(first.text)
                     : QStringLiteral("esperado um operador e não \"%1\"").arg(opTok.text),
                 opTok.pos);
        }
        const Token second = take();
        if (second.kind == Token::End) {
            fail(QStringLiteral("falta o valor depois de \"%1\"").arg(opTok.text), second.pos);
        }
        Token field = first;
        Token literal = second;
        FilterExpr::Op op = opTok.op;
        if (first.kind != Token::Ident) {
            // 'x' = FIELD: mirror the operator.
            field = second;
            literal = first;
            switch (op) {
                case FilterExpr::Op::Lt:
                    op = FilterExpr::Op::Gt;
                    break;
                case FilterExpr::Op::Le:
                    op = FilterExpr::Op::Ge;
                    break;
                case FilterExpr::Op::Gt:
                    op = FilterExpr::Op::Lt;
                    break;
                case FilterExpr::Op::Ge:
                    op = FilterExpr::Op::Le;
                    break;
                default:
                    break;
            }
        }
        if (field.kind != Token::Ident) {
            fail(QStringLiteral("a comparação não tem campo"), first.pos);
        }
        if (literal.kind != Token::Text && literal.kind != Token::Number) {
            fail(literal.kind == Token::Ident
                     ? QStringLiteral("comparação entre campos (\"%1\") não suportada")
                           .arg(literal.text)
                     : QStringLiteral("esperado um valor e não \"%1\"").arg(literal.text),
                 literal.pos);
        }
        FieldDef def;
        const int index = m_resolve ? m_resolve(field.text, def) : -1;
        if (index < 0) {
            fail(QStringLiteral("campo \"%1\" desconhecido").arg(field.text), field.pos);
        }
        FilterExpr::Comparison c;
        c.field = index;
        c.type = def.type;
        c.op = op;
        if (def.type == FieldType::String || def.type == FieldType::Memo) {
            c.text = literal.text;
        } else {
            QVariant v;
            try {
                v = packetCoerce(QVariant(literal.text), def);
            } catch (const EPacketError&) {
                fail(QStringLiteral("valor '%1' inválido para o campo %2")
                         .arg(literal.text, def.name),
                     literal.pos);
            }
            c.null = !v.isValid();
            if (!c.null) {
                switch (def.type) {
                    case FieldType::Integer:
                        c.i = v.toLongLong();
                        break;
                    case FieldType::Float:
                        c.d = v.toDouble();
                        break;
                    case FieldType::Boolean:
                        c.i = v.toBool() ? 1 : 0;
                        break;
                    case FieldType::Date:
                        c.i = packetDays(v.toDate());
                        break;
                    case FieldType::DateTime:
                        c.i = packetMillis(v.toDateTime());
                        break;
                    default:
                        break;
                }
            }
        }
        m_out.m_cmps.push_back(c);
        return addNode(FilterExpr::Node::Cmp, int(m_out.m_cmps.size()) - 1);
    }

    const QString& m_expr;
    const FilterExpr::Resolver& m_resolve;
    FilterExpr& m_out;
    std::vector<Token> m_tokens;
    size_t m_i = 0;
    int m_depth = 0;
};

FilterExpr FilterExpr::compile(const QString& expression, const Resolver& resolve) {
    FilterExpr out;
    FilterParser parser(expression, resolve, out);
    parser.parse();
    return out;
}

}  // namespace host
