#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "core/clientdataset.h"

namespace host {

// A data set filter expression, parsed and checked once, then evaluated per row.
//
//   expression := term { OR term }
//   term       := factor { AND factor }
//   factor     := NOT factor | '(' expression ')' | comparison
//   comparison := FIELD op literal | literal op FIELD
//   op         := = | <> | != | < | <= | > | >=
//   literal    := 'text' (a doubled '' is a quote) | number
//
// Keywords and field names are case-insensitive. A literal is converted once to the field's
// type ('' is null for non-text fields; a text field's null equals ''). Any problem raises
// EDataSetError with the expression and what is wrong.
class FilterExpr {
  public:
    enum class Op { Eq, Ne, Lt, Le, Gt, Ge };

    struct Comparison {
        int field = -1;
        FieldType type = FieldType::String;
        Op op = Op::Eq;
        bool null = false;  // the literal is null (only for non-text fields)
        QString text;       // String, Memo
        qint64 i = 0;       // Integer, Boolean, Date (days), DateTime (millis)
        double d = 0;       // Float
    };

    // Looks a field up by name (case-insensitive): its index and definition, or -1.
    using Resolver = std::function<int(const QString& name, FieldDef& def)>;

    FilterExpr() = default;
    static FilterExpr compile(const QString& expression, const Resolver& resolve);

    bool isEmpty() const { return m_nodes.empty(); }
    const std::vector<Comparison>& comparisons() const { return m_cmps; }

    // Evaluates the expression; test(c) answers one comparison for the row at hand.
    template <class Test>
    bool eval(const Test& test) const {
        return m_nodes.empty() ? true : evalNode(m_root, test);
    }

    // Orders a value against a literal for the comparison's operator: cmp < 0, 0, > 0.
    static bool applyOp(Op op, int cmp) {
        switch (op) {
            case Op::Eq:
                return cmp == 0;
            case Op::Ne:
                return cmp != 0;
            case Op::Lt:
                return cmp < 0;
            case Op::Le:
                return cmp <= 0;
            case Op::Gt:
                return cmp > 0;
            case Op::Ge:
                return cmp >= 0;
        }
        return false;
    }

  private:
    friend class FilterParser;
    struct Node {
        enum Kind { Cmp, And, Or, Not } kind = Cmp;
        int a = -1;  // child (And, Or, Not) or comparison index (Cmp)
        int b = -1;
    };

    template <class Test>
    bool evalNode(int n, const Test& test) const {
        const Node& node = m_nodes[size_t(n)];
        switch (node.kind) {
            case Node::Cmp:
                return test(m_cmps[size_t(node.a)]);
            case Node::And:
                return evalNode(node.a, test) && evalNode(node.b, test);
            case Node::Or:
                return evalNode(node.a, test) || evalNode(node.b, test);
            case Node::Not:
                return !evalNode(node.a, test);
        }
        return false;
    }

    std::vector<Node> m_nodes;
    std::vector<Comparison> m_cmps;
    int m_root = -1;
};

}  // namespace host
