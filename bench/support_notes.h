#pragma once

// Deterministic addressed-note records for benchmarks: the 31 fields of the notes list in
// packet order, with values shaped like real ones (issuer names of 20 to 60 characters with
// accents, repeated across notes as real issuers are; 44-digit access keys with their check
// digit; CNPJs; dates with and without time; values with cents; the usual codes).
//
//   benchnotes::Generator gen(seed);   gen.next() gives one Note at a time
//   benchnotes::notesPacket(100000)    a whole packet (host/core/packet.h)
//   benchnotes::declareFields(cds)     the 31 persistent fields on a data set

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "core/clientdataset.h"
#include "core/packet.h"
#include "notarecord.h"

namespace benchnotes {

inline QList<host::FieldDef> noteFields() {
    return rdmManifestacao::noteRecordFields();
}

inline void declareFields(host::TClientDataSet& ds) {
    for (const host::FieldDef& f : noteFields()) {
        ds.AddField(f);
    }
}

struct Note {
    QString idMarcado, cdFilialOrig, cdEmpresa, nrInsJurNfOrig, nmRazSocEmit, nrNotaFisc;
    QDateTime dtEntrSaid, dtEmissao;
    QString cdSerie, idStatusNfe, idStatusManif, idTipoIncl, idTipoEvento, idAmbienteManif;
    QDateTime dtHrEvento;
    QString nrSeqEvento, dsCorrecaoNfe, dsObsStatusManif, cdFilial, nrLanctoNf, nrInsJurNf;
    QString idEntrSaidNf, idEntrSaidOp, nrAcessoNf, idNota, idArqXmlNfe, nrAcessoIntg;
    double vrNotaFisc = 0;
    QDateTime dtRecbto;
    QString nrInsJurIestDest, cdInscEstaDest;
};

class Generator {
  public:
    explicit Generator(std::uint64_t seed = 58000) : m_state(seed * 2654435761u + 1) {
        buildIssuers();
    }

    // A small, fast and portable generator (splitmix64), so every platform gets the same notes.
    std::uint64_t rnd() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(rnd() % std::uint64_t(n)); }

    const QStringList& issuerNames() const { return m_names; }

    Note next() {
        Note n;
        const int issuer = skewedIssuer();
        const QString& cnpj = m_cnpjs[issuer];
        n.idMarcado = below(10) == 0 ? QStringLiteral("S") : QStringLiteral("N");
        n.cdFilialOrig = QString::number(1 + below(6)).rightJustified(4, u'0');
        n.cdEmpresa = QStringLiteral("01");
        n.nrInsJurNfOrig = cnpj;
        n.nmRazSocEmit = m_names[issuer];
        const int number = 1 + below(999999);
        n.nrNotaFisc = QString::number(number);
        const QDate issued = QDate(2023, 1, 1).addDays(below(600));
        const QTime issuedAt = QTime(7 + below(12), below(60), below(60));
        n.dtEmissao = QDateTime(issued, below(4) == 0 ? QTime(0, 0) : issuedAt);
        n.dtEntrSaid =
            below(3) == 0 ? QDateTime() : QDateTime(issued.addDays(below(5)), QTime(0, 0));
        n.cdSerie = QString::number(1 + below(3));
        n.idStatusNfe = QString::number(below(10) < 8 ? 1 : below(4));
        n.idStatusManif = QString::number(below(6));
        n.idTipoIncl = below(5) == 0 ? QStringLiteral("M") : QStringLiteral("X");
        n.idTipoEvento = QString::number(below(4));
        n.idAmbienteManif = QStringLiteral("1");
        n.dtHrEvento = n.idStatusManif == u"0"
                           ? QDateTime()
                           : QDateTime(issued.addDays(1 + below(9)), QTime(below(24), below(60)));
        n.nrSeqEvento = n.idStatusManif == u"0" ? QString() : QStringLiteral("01");
        n.dsCorrecaoNfe = n.idTipoEvento == u"2"
                              ? QStringLiteral("Correção do endereço de entrega: Rua %1, nº %2")
                                    .arg(m_words[below(m_words.size())])
                                    .arg(below(2000))
                              : QString();
        n.dsObsStatusManif = n.idStatusManif == u"5"
                                 ? QStringLiteral("Rejeição: Evento apresentado fora do prazo")
                                 : QString();
        const bool booked = below(3) == 0;
        n.cdFilial = booked ? n.cdFilialOrig : QString();
        n.nrLanctoNf = booked ? QString::number(100000 + below(900000)) : QString();
        n.nrInsJurNf = cnpj;
        n.idEntrSaidNf = QStringLiteral("E");
        n.idEntrSaidOp = QStringLiteral("E");
        n.nrAcessoNf = accessKey(cnpj, issued, number);
        n.idNota = QString::number(1 + below(7));
        n.idArqXmlNfe = below(2) == 0 ? QStringLiteral("S") : QStringLiteral("N");
        n.nrAcessoIntg = booked ? n.nrAcessoNf : QString();
        n.vrNotaFisc = double(1000 + below(50000000)) / 100.0;
        n.dtRecbto = QDateTime(issued, issuedAt.addSecs(60 + below(3000)));
        n.nrInsJurIestDest = QStringLiteral("12345678000195");
        n.cdInscEstaDest = QStringLiteral("110042490114");
        return n;
    }

    // 44 digits: cUF, AAMM, CNPJ, model 55, series, number, emission type, code, check digit.
    QString accessKey(const QString& cnpj, const QDate& date, int number) {
        static const int ufs[] = {35, 33, 31, 41, 43, 42, 29, 52, 53, 26};
        QString k = QString::number(ufs[below(10)]);
        k += QString::number(date.year() % 100).rightJustified(2, u'0');
        k += QString::number(date.month()).rightJustified(2, u'0');
        k += cnpj;
        k += QStringLiteral("55");
        k += QString::number(1 + below(3)).rightJustified(3, u'0');
        k += QString::number(number).rightJustified(9, u'0');
        k += QStringLiteral("1");
        k += QString::number(below(100000000)).rightJustified(8, u'0');
        int sum = 0, weight = 2;
        for (int i = int(k.size()) - 1; i >= 0; --i) {
            sum += k[i].digitValue() * weight;
            weight = weight == 9 ? 2 : weight + 1;
        }
        const int r = sum % 11;
        k += QString::number(r < 2 ? 0 : 11 - r);
        return k;
    }

  private:
    // Some issuers send far more notes than others.
    int skewedIssuer() {
        const int a = below(int(m_names.size()));
        const int b = below(int(m_names.size()));
        return qMin(a, b);
    }

    QString cnpjFor(int i) {
        QString base = QString::number(10000000 + (i * 7919) % 89999999).rightJustified(8, u'0');
        base += QStringLiteral("0001");
        auto digit = [](const QString& s, const int* w, int n) {
            int sum = 0;
            for (int i = 0; i < n; ++i) {
                sum += s[i].digitValue() * w[i];
            }
            const int r = sum % 11;
            return r < 2 ? 0 : 11 - r;
        };
        static const int w1[] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
        static const int w2[] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
        base += QString::number(digit(base, w1, 12));
        base += QString::number(digit(base, w2, 13));
        return base;
    }

    void buildIssuers() {
        m_words = {"Álvares",     "Conceição",   "Indústria",    "Comércio",   "Distribuidora",
                   "Açúcar",      "Paraná",      "São",          "João",       "Peças",
                   "Logística",   "Ferragens",   "Máquinas",     "Elétrica",   "Têxtil",
                   "Alimentos",   "Química",     "Serviços",     "Construção", "Agropecuária",
                   "Metalúrgica", "Transportes", "Farmacêutica", "Gráfica",    "Cerâmica",
                   "Madeireira",  "Plásticos",   "Embalagens",   "Laticínios", "Irmãos",
                   "Guaraná",     "Maringá",     "Goiânia",      "Petrópolis", "Itajaí",
                   "Acessórios",  "Tecnologia",  "Importação",   "Exportação", "Participações"};
        static const char* forms[] = {" Ltda", " S.A.", " EIRELI", " ME", " Ltda."};
        const int count = 3000;
        for (int i = 0; i < count; ++i) {
            QString name;
            const int target = 20 + below(41);
            while (name.size() < target - 6) {
                if (!name.isEmpty()) {
                    name += u' ';
                }
                const QString& w = m_words[below(int(m_words.size()))];
                name += below(3) == 0 ? w.toUpper() : w;
            }
            name += QLatin1String(forms[below(5)]);
            if (name.size() > 60) {
                name.truncate(60);
            }
            while (name.size() < 20) {
                name += QStringLiteral(" Filial");
            }
            m_names << name.left(60);
            m_cnpjs << cnpjFor(i);
        }
    }

    std::uint64_t m_state;
    QStringList m_words;
    QStringList m_names;
    QStringList m_cnpjs;
};

inline void writeText(host::PacketWriter& w, const QString& s) {
    if (s.isNull()) {
        w.null();
    } else {
        w.string(s);
    }
}

inline void writeDateTime(host::PacketWriter& w, const QDateTime& dt) {
    if (dt.isValid()) {
        w.dateTimeMillis(host::packetMillis(dt));
    } else {
        w.null();
    }
}

inline void writeNote(host::PacketWriter& w, const Note& n) {
    w.beginRow();
    writeText(w, n.idMarcado);
    writeText(w, n.cdFilialOrig);
    writeText(w, n.cdEmpresa);
    writeText(w, n.nrInsJurNfOrig);
    writeText(w, n.nmRazSocEmit);
    writeText(w, n.nrNotaFisc);
    writeDateTime(w, n.dtEntrSaid);
    writeDateTime(w, n.dtEmissao);
    writeText(w, n.cdSerie);
    writeText(w, n.idStatusNfe);
    writeText(w, n.idStatusManif);
    writeText(w, n.idTipoIncl);
    writeText(w, n.idTipoEvento);
    writeText(w, n.idAmbienteManif);
    writeDateTime(w, n.dtHrEvento);
    writeText(w, n.nrSeqEvento);
    writeText(w, n.dsCorrecaoNfe);
    writeText(w, n.dsObsStatusManif);
    writeText(w, n.cdFilial);
    writeText(w, n.nrLanctoNf);
    writeText(w, n.nrInsJurNf);
    writeText(w, n.idEntrSaidNf);
    writeText(w, n.idEntrSaidOp);
    writeText(w, n.nrAcessoNf);
    writeText(w, n.idNota);
    writeText(w, n.idArqXmlNfe);
    writeText(w, n.nrAcessoIntg);
    w.floating(n.vrNotaFisc);
    writeDateTime(w, n.dtRecbto);
    writeText(w, n.nrInsJurIestDest);
    writeText(w, n.cdInscEstaDest);
    w.endRow();
}

// A packet of count notes; the same seed gives the same bytes.
inline QByteArray notesPacket(int count, std::uint64_t seed = 58000) {
    Generator gen(seed);
    host::PacketWriter w(noteFields(), count, qsizetype(count) * 420 + 1024);
    for (int i = 0; i < count; ++i) {
        writeNote(w, gen.next());
    }
    return w.finish();
}

}  // namespace benchnotes
