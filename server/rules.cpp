#include "rules.h"

#include "core/hosterror.h"

namespace dfe58000::rules {

const QList<EventRule>& events() {
    static const QList<EventRule> table = {
        {QStringLiteral("1"), 210200, QStringLiteral("Confirmação da Operação"),
         QStringLiteral("Confirmacao da Operacao"),
         QStringLiteral("Confirmacao de Operacao registrada"), true, false, false, 2},
        {QStringLiteral("2"), 210220, QStringLiteral("Desconhecimento da Operação"),
         QStringLiteral("Desconhecimento da Operacao"),
         QStringLiteral("Desconhecimento da Operacao registrada"), true, false, true, 2},
        {QStringLiteral("3"), 210240, QStringLiteral("Operação não Realizada"),
         QStringLiteral("Operacao nao Realizada"),
         QStringLiteral("Operacao nao Realizada registrada"), true, true, true, 2},
        {QStringLiteral("4"), 210210, QStringLiteral("Ciência da Operação"),
         QStringLiteral("Ciencia da Operacao"), QStringLiteral("Ciencia da Operacao registrada"),
         false, false, false, 1},
    };
    return table;
}

const EventRule* eventByModuleCode(const QString& code) {
    for (const EventRule& e : events()) {
        if (e.moduleCode == code) {
            return &e;
        }
    }
    return nullptr;
}

const EventRule* eventByTpEvento(int tpEvento) {
    for (const EventRule& e : events()) {
        if (e.tpEvento == tpEvento) {
            return &e;
        }
    }
    return nullptr;
}

bool justificationFitsLayout(const QString& text) {
    if (text.size() < kJustificationMin || text.size() > kJustificationMax) {
        return false;
    }
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0xFF) {
            return false;
        }
    }
    return text.front() != u' ' && text.back() != u' ';
}

int conclusiveDeadlineDays(const QDate& onDate) {
    return onDate < kConclusiveDeadlineChange ? kConclusiveDeadlineDaysBefore
                                              : kConclusiveDeadlineDays;
}

QDate conclusiveDeadline(const QDate& authorised, const QDate& today) {
    return authorised.addDays(conclusiveDeadlineDays(today));
}

namespace {
// Monday to Friday among the days after `from`, up to and including `to` (from <= to): whole
// weeks at once, so a query of tens of thousands of notes does not walk their calendars.
int businessDaysAfter(const QDate& from, const QDate& to) {
    const qint64 days = from.daysTo(to);
    int n = int(days / 7) * 5;
    int weekday = from.dayOfWeek();  // 1 Monday .. 7 Sunday
    for (qint64 i = 0; i < days % 7; ++i) {
        weekday = weekday % 7 + 1;
        if (weekday <= 5) {
            ++n;
        }
    }
    return n;
}
}  // namespace

int businessDaysLeft(const QDate& today, const QDate& deadline) {
    if (deadline < today) {
        const int n = businessDaysAfter(deadline, today);
        return n == 0 ? -1 : -n;
    }
    return businessDaysAfter(today, deadline);
}

DeadlineClass classifyDeadline(const QString& statusNFe, const QString& statusManif,
                               const QDate& authorised, const QDate& today) {
    if (!authorised.isValid()) {
        return DeadlineClass::None;
    }
    const QChar nfe = statusNFe.isEmpty() ? QChar() : statusNFe.at(0);
    const QChar manif = statusManif.isEmpty() ? QChar() : statusManif.at(0);
    if (nfe != u'0' && nfe != u'1') {
        return DeadlineClass::None;
    }
    if (manif != u'0' && manif != u'4' && manif != u'5') {
        return DeadlineClass::None;
    }
    const QDate deadline = conclusiveDeadline(authorised, today);
    if (deadline < today) {
        return DeadlineClass::None;
    }
    const int left = businessDaysLeft(today, deadline);
    if (left <= kManifestNowBusinessDays) {
        return DeadlineClass::Now;
    }
    if (left <= kNearDeadlineBusinessDays) {
        return DeadlineClass::Near;
    }
    return DeadlineClass::None;
}

const QList<Status>& statuses() {
    static const QList<Status> table = {
        {128, QStringLiteral("Lote de evento processado")},
        {135, QStringLiteral("Evento registrado e vinculado à NF-e")},
        {136, QStringLiteral("Evento registrado, mas não vinculado à NF-e")},
        {236, QStringLiteral("Rejeição: Chave de Acesso com dígito verificador inválido")},
        {489, QStringLiteral("Rejeição: CNPJ informado inválido (DV ou zeros)")},
        {490, QStringLiteral("Rejeição: CPF informado inválido (DV ou zeros)")},
        {493, QStringLiteral("Rejeição: Evento não atende o Schema XML específico")},
        {573, QStringLiteral("Rejeição: Duplicidade de Evento")},
        {575, QStringLiteral("Rejeição: O autor do evento diverge do destinatário da NF-e")},
        {594, QStringLiteral("Rejeição: O número de sequência do evento informado é maior que o "
                             "permitido")},
        {595, QStringLiteral("Rejeição: A justificativa do evento não foi informada")},
        {596, QStringLiteral("Rejeição: Evento apresentado fora do prazo: [prazo vigente]")},
        {614, QStringLiteral("Rejeição: Chave de Acesso inválida (Código UF inválido)")},
        {615, QStringLiteral("Rejeição: Chave de Acesso inválida (Ano menor que 06 ou Ano maior "
                             "que Ano corrente)")},
        {616, QStringLiteral("Rejeição: Chave de Acesso inválida (Mês menor que 1 ou Mês maior "
                             "que 12)")},
        {617, QStringLiteral("Rejeição: Chave de Acesso inválida (CNPJ zerado ou dígito "
                             "inválido)")},
        {618, QStringLiteral("Rejeição: Chave de Acesso inválida (modelo diferente de 55 e 65)")},
        {619, QStringLiteral("Rejeição: Chave de Acesso inválida (número NF = 0)")},
        {650, QStringLiteral("Rejeição: Evento de \"Ciência da Emissão\" para NF-e Cancelada ou "
                             "Denegada")},
        {651, QStringLiteral("Rejeição: Evento de \"Desconhecimento da Operação\" para NF-e "
                             "Cancelada ou Denegada")},
        {655, QStringLiteral("Rejeição: Evento de Ciência da Emissão informado após a manifestação "
                             "final do destinatário")},
        {656, QStringLiteral("Rejeição: Consumo Indevido (Ultrapassou o limite de 20 consultas "
                             "por hora)")},
    };
    return table;
}

QString motivo(int cStat) {
    for (const Status& s : statuses()) {
        if (s.cStat == cStat) {
            return s.xMotivo;
        }
    }
    throw host::EProgrammingError(
        QStringLiteral("Código de situação sem texto na tabela de regras: %1").arg(cStat));
}

QString describe(int cStat) {
    return QStringLiteral("%1 - %2").arg(cStat).arg(motivo(cStat));
}

QString outOfDeadlineMotivo(int deadlineDays) {
    return motivo(kOutOfDeadline)
        .replace(QStringLiteral("[prazo vigente]"), QStringLiteral("%1 dias").arg(deadlineDays));
}

}  // namespace dfe58000::rules
