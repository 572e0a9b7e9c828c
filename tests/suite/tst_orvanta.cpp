// The host program seen from outside: it is started as the demo and the scripts start it, with
// a fresh database in a temporary home, and judged by its exit code, its output and its files.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestOrvanta : public QObject {
    Q_OBJECT

  private:
    struct Run {
        int exitCode = -1;
        bool crashed = false;
        QString out;
        QString err;
    };

    QTemporaryDir m_home;

    QString dbUrl(const QString& name) const {
        return QStringLiteral("sqlite:") + m_home.filePath(name);
    }

    Run run(const QStringList& args, int timeoutMs = 90000) {
        return runProgram(QStringLiteral(ORVANTA_BIN_DIR "/orvanta"), args, timeoutMs);
    }

    Run runProgram(const QString& program, const QStringList& args, int timeoutMs = 90000) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        p.setProcessEnvironment(env);
        p.start(program, args);
        Run r;
        if (!p.waitForStarted(10000)) {
            r.err = p.errorString();
            return r;
        }
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            r.err = QStringLiteral("timed out");
            return r;
        }
        r.crashed = p.exitStatus() != QProcess::NormalExit;
        r.exitCode = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // A build tree for the demo script: the real program, and an application server that
    // says where it listens and then waits, noting its process id.
    QString fakeBuild(const QString& name, const QString& greeting) {
        const QString root = m_home.filePath(name);
        QDir().mkpath(root + QStringLiteral("/bin"));
        QFile::link(QStringLiteral(ORVANTA_BIN_DIR "/orvanta"),
                    root + QStringLiteral("/bin/orvanta"));
        QFile server(root + QStringLiteral("/bin/dfe58000-server"));
        if (!server.open(QIODevice::WriteOnly)) {
            return {};
        }
        server.write(QStringLiteral("#!/bin/sh\n"
                                    "echo $$ > '%1/server.pid'\n"
                                    "echo '%2'\n"
                                    "exec sleep 120\n")
                         .arg(root, greeting)
                         .toUtf8());
        server.close();
        server.setPermissions(server.permissions() | QFileDevice::ExeOwner);
        return root;
    }

    static qint64 serverPid(const QString& root) {
        QFile f(root + QStringLiteral("/server.pid"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLongLong() : 0;
    }

    static void verifyPng(const QString& file) {
        QFileInfo info(file);
        QVERIFY2(info.exists(), qPrintable(file));
        QVERIFY(info.size() > 0);
        QImage image;
        QVERIFY(image.load(file, "PNG"));
        QVERIFY(image.width() > 100 && image.height() > 100);
    }

  private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        QVERIFY2(QFileInfo::exists(QStringLiteral(ORVANTA_BIN_DIR "/orvanta")),
                 "the orvanta program is not built");
    }

    void screenshotOnAFreshDatabase() {
        const QString shot = m_home.filePath(QStringLiteral("main.png"));
        const QString dbFile = m_home.filePath(QStringLiteral("fresh/company.sqlite"));
        const Run r = run({QStringLiteral("--db"), QStringLiteral("sqlite:") + dbFile,
                           QStringLiteral("--screenshot"), shot});
        QVERIFY2(!r.crashed && r.exitCode == 0, qPrintable(r.err));
        verifyPng(shot);
        // The missing database was created, folder and all.
        QVERIFY(QFileInfo(dbFile).size() > 0);

        // A second start finds the database already there and opens it as it is.
        const Run again = run({QStringLiteral("--db"), QStringLiteral("sqlite:") + dbFile,
                               QStringLiteral("--screenshot"), shot});
        QVERIFY2(again.exitCode == 0, qPrintable(again.err));
        QVERIFY(QFileInfo(dbFile).size() > 0);
    }

    void unknownModuleIsReportedAndTheProgramGoesOn() {
        const QString shot = m_home.filePath(QStringLiteral("unknown.png"));
        const Run r = run({QStringLiteral("--db"), dbUrl(QStringLiteral("u.sqlite")),
                           QStringLiteral("--module"), QStringLiteral("zzz99999"),
                           QStringLiteral("--screenshot"), shot});
        QVERIFY2(!r.crashed && r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("ZZZ99999")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("não encontrado")), qPrintable(r.err));
        verifyPng(shot);
    }

    void standInModulesOpen_data() {
        QTest::addColumn<QString>("code");
        QTest::newRow("document viewing") << QStringLiteral("DFE15200");
        QTest::newRow("synchronisation") << QStringLiteral("DFE59000");
    }
    void standInModulesOpen() {
        QFETCH(QString, code);
        const QString shot = m_home.filePath(code + QStringLiteral(".png"));
        const Run r = run({QStringLiteral("--db"), dbUrl(QStringLiteral("s.sqlite")),
                           QStringLiteral("--module"), code, QStringLiteral("--screenshot"), shot});
        QVERIFY2(!r.crashed && r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(!r.err.contains(QStringLiteral("orvanta:")), qPrintable(r.err));
        verifyPng(shot);
    }

    void unwritableScreenshotFails() {
        const Run r = run({QStringLiteral("--db"), dbUrl(QStringLiteral("w.sqlite")),
                           QStringLiteral("--screenshot"),
                           m_home.filePath(QStringLiteral("no/such/dir/x.png"))});
        QVERIFY(!r.crashed);
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.err.contains(QStringLiteral("x.png")), qPrintable(r.err));
    }

    void badOptionsStopWithAMessage_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("impossible date")
            << QStringList{QStringLiteral("--data"), QStringLiteral("31/02/2026")}
            << QStringLiteral("Data inválida");
        QTest::newRow("server without port")
            << QStringList{QStringLiteral("--server"), QStringLiteral("localhost")}
            << QStringLiteral("Servidor inválido");
        QTest::newRow("port out of range")
            << QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.1:70000")}
            << QStringLiteral("Servidor inválido");
        QTest::newRow("unknown database kind")
            << QStringList{QStringLiteral("--db"), QStringLiteral("mysql:x")}
            << QStringLiteral("Banco de dados inválido");
        QTest::newRow("company not numeric")
            << QStringList{QStringLiteral("--empresa"), QStringLiteral("A1")}
            << QStringLiteral("--empresa");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--nada")} << QStringLiteral("nada");
    }
    void badOptionsStopWithAMessage() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const QString shot = m_home.filePath(QStringLiteral("never.png"));
        const Run r = run(args + QStringList{QStringLiteral("--screenshot"), shot});
        QVERIFY(!r.crashed);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(shot));
    }

    void demoStartsTheServerAndStopsItAfterwards() {
        const QString build =
            fakeBuild(QStringLiteral("demo-build"), QStringLiteral("listening on 127.0.0.1:45678"));
        QVERIFY(!build.isEmpty());
        const QString db = m_home.filePath(QStringLiteral("demo/db/demo.sqlite"));
        const QString shot = m_home.filePath(QStringLiteral("demo.png"));
        const Run r = runProgram(QStringLiteral(ORVANTA_SOURCE_DIR "/scripts/demo"),
                                 {build, db, QStringLiteral("--screenshot"), shot});
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains(QStringLiteral("127.0.0.1:45678")), qPrintable(r.out));
        QVERIFY(QFileInfo(db).size() > 0);
        verifyPng(shot);
        const qint64 pid = serverPid(build);
        QVERIFY(pid > 0);
        QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)));
    }

    void demoRefusesAServerThatSaysSomethingElse() {
        const QString build =
            fakeBuild(QStringLiteral("odd-build"), QStringLiteral("ready, more or less"));
        QVERIFY(!build.isEmpty());
        const QString shot = m_home.filePath(QStringLiteral("odd.png"));
        const Run r = runProgram(QStringLiteral(ORVANTA_SOURCE_DIR "/scripts/demo"),
                                 {build, m_home.filePath(QStringLiteral("odd/demo.sqlite")),
                                  QStringLiteral("--screenshot"), shot});
        QVERIFY(r.exitCode != 0);
        QVERIFY2(r.err.contains(QStringLiteral("ready, more or less")), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(shot));
        const qint64 pid = serverPid(build);
        QVERIFY(pid > 0);
        QTRY_VERIFY(!QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)));
    }

    void isoDateAndLoginOptionsAreAccepted() {
        const QString shot = m_home.filePath(QStringLiteral("login.png"));
        const Run r = run(
            {QStringLiteral("--db"), dbUrl(QStringLiteral("l.sqlite")), QStringLiteral("--empresa"),
             QStringLiteral("2"), QStringLiteral("--filial"), QStringLiteral("3"),
             QStringLiteral("--data"), QStringLiteral("2026-03-15"), QStringLiteral("--operador"),
             QStringLiteral("maria"), QStringLiteral("--screenshot"), shot});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        verifyPng(shot);
    }
};

QTEST_GUILESS_MAIN(TestOrvanta)
#include "tst_orvanta.moc"
