// The counting page in a real browser: Debian's Chromium, headless and
// phone-sized, opens the page a real Stolva serves on 127.0.0.1, paired by
// the address in the dialog's QR code, and a person's taps and keys go
// through it to the ledger.
#include "app/Startup.h"
#include "tests/window_fixture.h"

#include <QCryptographicHash>
#include <QDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QUrl>

#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

// The bars of an EAN-13 code, one character a module ('1' dark).
QString ean13Modules(const QString& digits) {
    static const char* L[] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                              "0110001", "0101111", "0111011", "0110111", "0001011"};
    static const char* parity[] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                                   "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};
    const auto r = [](int d) {
        QString s = QString::fromLatin1(L[d]);
        for (QChar& c : s)
            c = c == '0' ? '1' : '0';
        return s;
    };
    QString out = "101";
    const int first = digits[0].digitValue();
    for (int i = 1; i <= 6; ++i) {
        const int d = digits[i].digitValue();
        QString g = r(d);
        std::reverse(g.begin(), g.end());
        out += parity[first][i - 1] == 'L' ? QString::fromLatin1(L[d]) : g;
    }
    out += "01010";
    for (int i = 7; i <= 12; ++i)
        out += r(digits[i].digitValue());
    return out + "101";
}

// A camera's view of a printed EAN-13 label, as a Y4M video Chromium's fake
// camera plays in a loop.
bool writeBarcodeVideo(const QString& path, const QString& digits) {
    const int w = 640, h = 480, module = 4;
    QImage img(w, h, QImage::Format_Grayscale8);
    img.fill(230); // paper under shop light
    const QString bars = ean13Modules(digits);
    const int left = (w - bars.size() * module) / 2;
    QPainter p(&img);
    for (int i = 0; i < bars.size(); ++i)
        if (bars[i] == '1')
            p.fillRect(left + i * module, 120, module, 220, QColor(20, 20, 20));
    p.end();
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("YUV4MPEG2 W%1 H%2 F10:1 Ip A1:1 C420jpeg\n").arg(w).arg(h).toLatin1());
    const QByteArray chroma(w * h / 2, char(128));
    for (int frame = 0; frame < 10; ++frame) {
        f.write("FRAME\n");
        for (int y = 0; y < h; ++y)
            f.write(reinterpret_cast<const char*>(img.constScanLine(y)), w);
        f.write(chroma);
    }
    return f.error() == QFile::NoError;
}

// What Chromium is told to trust: the SHA-256 of the PC certificate's key.
QString spkiOf(const QByteArray& certPem) {
    BIO* b = BIO_new_mem_buf(certPem.constData(), int(certPem.size()));
    X509* c = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
    BIO_free(b);
    unsigned char* der = nullptr;
    const int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(c), &der);
    const QByteArray key(reinterpret_cast<const char*>(der), n);
    OPENSSL_free(der);
    X509_free(c);
    return QCryptographicHash::hash(key, QCryptographicHash::Sha256).toBase64();
}

// The browser, one command and one answer at a time.
struct Browser {
    QProcess node;
    QString failed;
    bool start() {
        node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        node.start("node", {QStringLiteral(STOLVA_SOURCE_DIR "/tests/page/driver.mjs")});
        return node.waitForStarted(10000);
    }
    QJsonObject ask(QJsonObject command) {
        node.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + "\n");
        while (!node.canReadLine())
            if (!node.waitForReadyRead(30000))
                return {{"error", "the browser did not answer " + command["do"].toString()}};
        const QJsonObject a = QJsonDocument::fromJson(node.readLine()).object();
        if (a.contains("error") && failed.isEmpty())
            failed = command["do"].toString() + ": " + a["error"].toString();
        return a;
    }
    ~Browser() {
        if (node.state() == QProcess::Running) {
            ask({{"do", "quit"}});
            node.closeWriteChannel();
            if (!node.waitForFinished(10000))
                node.kill();
        }
    }
};

struct ServerBack {
    ~ServerBack() {
        if (testServer())
            pg("resume-if-halted");
    }
};

} // namespace

class TestPage : public QObject {
    Q_OBJECT
  private slots:
    void thePageOnAPhone_data();
    void thePageOnAPhone();
};

void TestPage::thePageOnAPhone_data() {
    // Steps, one a line: "pair NAME COUNTER" (the QR code's address, the form
    // filled in), "type SEL TEXT" ("\n" is Enter), "click SEL", "see SEL TEXT",
    // "js EXPR => VALUE", "offline 1|0", "revoke" (in the PC's dialog), "visit URL",
    // "request METHOD URL BODY => STATUS" ($S the page's address, $P the plain
    // one, "@" the phone's token), "stored CODE N" (the saved count's
    // quantity), "entries KIND N" (the phone's entries of that kind), "shot NAME".
    QTest::addColumn<QStringList>("steps");
    const QString apple = "4901234567894", banana = "4912345678904";
    QTest::newRow("pairing and typed scans")
        << QStringList{"pair 棚Aのスマホ 佐藤",
                       "see #who 棚Aのスマホ（佐藤）",
                       "see #uncounted バナナ",
                       "type #code " + apple + "\n",
                       "see #result りんご　数量 1",
                       "type #code 3*" + apple + "\n",
                       "see #result りんご　数量 4",
                       "type #code -1*" + apple + "\n",
                       "see #result りんご　数量 3",
                       "stored " + apple + " 3",
                       "entries スキャン 3",
                       "click #undo",
                       "see #result 取り消しました",
                       "stored " + apple + " 4",
                       "type #code -9*" + apple + "\n",
                       "see #result 0 より少なくはできません",
                       "stored " + apple + " 4",
                       "js document.querySelector('#uncounted').textContent.includes('りんご') "
                       "=> false",
                       "type #code 2*" + apple + "\n",
                       "see #result りんご　数量 6",
                       "shot phone-page.png",
                       "visit $P/",
                       "see #android 証明書",
                       "shot phone-certificate.png"};
    QTest::newRow("codes no product has wait on the phone, shown as text")
        << QStringList{"pair 棚B 佐藤",
                       "type #code 2*999\n",
                       "see #result 未登録のコード: 999",
                       "see #waiting 999 × 2",
                       "type #code <img src=x onerror=window.pwned=1>\n",
                       "see #result 未登録のコード: <img src=x onerror=window.pwned=1>",
                       "type #code 1');DELETE FROM 商品マスタ;--\n",
                       "see #result 未登録のコード: 1');DELETE",
                       "js window.pwned === undefined && !document.querySelector('#result img, "
                       "#waiting img') => true",
                       "sql SELECT count(*) FROM 商品マスタ => 3",
                       "sql SELECT count(*) FROM 在庫表 => 0"};
    QTest::newRow("the camera reads an EAN-13 label once while it is in view")
        << QStringList{"pair 棚C 鈴木",
                       "click #camera",
                       "see #result バナナ　数量 1",
                       "js new Promise(ok => { const v = document.querySelector('#video'), n = "
                       "+v.dataset.looked; const t = setInterval(() => { if (+v.dataset.looked > "
                       "n + 30) { clearInterval(t); ok(true); } }, 50); }) => true",
                       "click #camera",
                       "stored " + banana + " 1",
                       "entries スキャン 1"};
    QTest::newRow("scans wait while the Wi-Fi is down, then each is stored once")
        << QStringList{"pair 棚D 田中",
                       "offline 1",
                       "type #code " + apple + "\n",
                       "type #code 2*" + banana + "\n",
                       "type #code " + apple + "\n",
                       "see #queued 送信待ち 3 件",
                       "stored " + apple + " 0",
                       "offline 0",
                       "see #result りんご　数量 2",
                       "js document.querySelector('#queued').textContent => ",
                       "stored " + apple + " 2",
                       "stored " + banana + " 2",
                       "entries スキャン 3"};
    QTest::newRow("a revoked phone is told to pair again")
        << QStringList{"pair 棚E 佐藤",
                       "type #code " + apple + "\n",
                       "see #result りんご　数量 1",
                       "revoke",
                       "type #code " + apple + "\n",
                       "see #unpairedText 解除されています",
                       "stored " + apple + " 1"};
    QTest::newRow("a server that stops: the scans wait on the phone, which says so")
        << QStringList{"pair 棚G 佐藤",
                       "type #code " + apple + "\n",
                       "see #result りんご　数量 1",
                       "halt",
                       "type #code " + apple + "\n",
                       "see #result 送信待ちに残します",
                       "see #queued 送信待ち 1 件",
                       "resume",
                       "see #result りんご　数量 2",
                       "stored " + apple + " 2",
                       "entries スキャン 2"};
    QTest::newRow("what the page never sends is refused") << QStringList{
        "pair 棚F 佐藤",
        R"(request POST $P/api/scan {"id":"h1","date":"2026-12-31","code":"A"} @ => 403)",
        R"(request GET $S/api/me - => 401)",
        R"(request POST $S/api/scan {"id":"h2","date":"2026-12-31","code":"x" @ => 400)",
        "request POST $S/api/scan " + QString(70000, 'x') + " @ => 413",
        R"(request POST $S/api/scan {"id":"h3","date":"2026-12-31","code":")" + QString(65, '4') +
            R"("} @ => 400)",
        R"(request POST $S/api/scan {"id":"h4","date":"2026-12-31","code":"4901234567894","count":1000000} @ => 400)",
        "sql SELECT count(*) FROM 棚卸記録 => 0"};
}

void TestPage::thePageOnAPhone() {
    QFETCH(QStringList, steps);
    if (steps.contains("halt") && !testServer())
        QSKIP("a server that stops needs the test server (tools/with-pg.sh)");
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings().setValue("phones/host", "127.0.0.1");
    QSettings().setValue("phones/port", 20000 + int(QCoreApplication::applicationPid() % 20000));
    // On the test server when there is one: the PC and the phones' service
    // reach it as two PCs would.
    std::unique_ptr<TempStore> ledger;
    if (testServer())
        ledger = std::make_unique<TempStore>();
    const ServerBack back;
    Started s(QSize(), ledger ? ledger->serverAddress() : std::nullopt);
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    for (const char* insert :
         {"INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 商品区分, 棚番) VALUES "
          "('4901234567894', 'りんご', '個', 120, '果物', 'A')",
          "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 商品区分, 棚番) VALUES "
          "('4912345678904', 'バナナ', '房', 200, '果物', 'A')",
          "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 商品区分, 棚番) VALUES "
          "('4900000000003', 'みかん', '個', 50, '果物', 'B')"})
        s.store().exec(Db::Main, insert);
    s.click("cmdスマホ棚卸");
    auto* dlg = s.find<QDialog>("dlgスマホ棚卸");
    QVERIFY(dlg);
    user::click(dlg->findChild<QWidget*>("chkスマホ受付"));
    const QUrl qr(dlg->findChild<QLabel*>("imgQR")->toolTip());
    QVERIFY2(qr.isValid() && qr.host() == "127.0.0.1", qPrintable(qr.toString()));
    const QString https = QStringLiteral("https://127.0.0.1:%1").arg(qr.port());
    const QString plain = QStringLiteral("http://127.0.0.1:%1").arg(qr.port() + 1);
    QFile pem(s.dir.path() + "/phones/server.pem");
    QVERIFY(pem.open(QIODevice::ReadOnly));

    QTemporaryDir dir;
    const QString video = dir.path() + "/label.y4m";
    QVERIFY(writeBarcodeVideo(video, "4912345678904"));
    Browser b;
    QVERIFY2(b.start(), "node did not start");
    b.ask({{"do", "launch"},
           {"spki", spkiOf(pem.readAll())},
           {"video", video},
           {"width", 390},
           {"height", 844}});
    QVERIFY2(b.failed.isEmpty(), qPrintable(b.failed));
    QString phone;
    const auto scalar = [&](const QString& sql) {
        return (ledger ? ledger->store() : s.store()).scalar(Db::Main, sql).toString();
    };
    for (const QString& step : steps) {
        const QString verb = step.section(' ', 0, 0), rest = step.section(' ', 1);
        const QString sel = rest.section(' ', 0, 0), text = rest.section(' ', 1);
        const int arrow = step.lastIndexOf(" => ");
        const QString expected = arrow < 0 ? QString() : step.mid(arrow + 4);
        const QString before = arrow < 0 ? step : step.left(arrow);
        if (verb == "pair") {
            phone = sel;
            b.ask({{"do", "goto"}, {"url", qr.toString()}});
            b.ask({{"do", "type"}, {"sel", "#pairName"}, {"text", sel}});
            b.ask({{"do", "type"}, {"sel", "#pairCounter"}, {"text", text}});
            b.ask({{"do", "click"}, {"sel", "#pair"}});
            b.ask({{"do", "see"}, {"sel", "#result"}, {"text", "読み取って"}});
            // The count of this test: today's date on the phone, the category typed.
            b.ask({{"do", "type"}, {"sel", "#category"}, {"text", "果物"}});
            b.ask({{"do", "type"}, {"sel", "#shelf"}, {"text", "A\t"}});
        } else if (verb == "visit") {
            b.ask({{"do", "goto"}, {"url", QString(sel).replace("$P", plain)}});
        } else if (verb == "type") {
            b.ask({{"do", "type"}, {"sel", sel}, {"text", text}});
        } else if (verb == "click") {
            b.ask({{"do", "click"}, {"sel", sel}});
        } else if (verb == "see") {
            const QString shown =
                b.ask({{"do", "see"}, {"sel", sel}, {"text", text}})["text"].toString();
            QVERIFY2(shown.contains(text), qPrintable(step + " — shown: " + shown));
        } else if (verb == "js") {
            const QJsonValue v = b.ask({{"do", "eval"}, {"js", before.mid(3)}})["value"];
            const QString got =
                v.isBool() ? (v.toBool() ? "true" : "false") : v.toVariant().toString();
            QVERIFY2(got == expected, qPrintable(step + " — got: " + got));
        } else if (verb == "offline") {
            b.ask({{"do", "offline"}, {"on", sel == "1"}});
        } else if (verb == "halt" || verb == "resume") {
            pg(verb);
        } else if (verb == "revoke") {
            auto* list = dlg->findChild<QTableView*>("lst端末");
            QTRY_VERIFY(list->model()->rowCount() > 0);
            user::click(list->viewport(), list->visualRect(list->model()->index(0, 0)).center());
            s.msgs.presenter.answers << true;
            user::click(dlg->findChild<QWidget*>("cmd端末解除"));
        } else if (verb == "request") {
            const QStringList parts = before.mid(8).split(' ');
            QString url = parts.value(1);
            url.replace("$S", https).replace("$P", plain);
            const QString body = parts.mid(2, parts.size() - 3).join(' ');
            QJsonObject headers{{"Content-Type", "application/json"}};
            if (parts.last() == "@")
                headers["Authorization"] =
                    "Bearer " + b.ask({{"do", "eval"},
                                       {"js", "localStorage.getItem('stolva.device')"}})["value"]
                                    .toString();
            const QJsonObject a = b.ask({{"do", "request"},
                                         {"method", parts.value(0)},
                                         {"url", url},
                                         {"headers", headers},
                                         {"body", body}});
            QVERIFY2(QString::number(a["status"].toInt()) == expected,
                     qPrintable(step.left(120) + " — got: " + QString::number(a["status"].toInt()) +
                                " " + a["body"].toString()));
            QVERIFY2(!a["body"].toString().isEmpty(),
                     qPrintable("a refusal says why: " + step.left(80)));
        } else if (verb == "stored") {
            const QString q = scalar("SELECT coalesce(sum(数量), 0) FROM 在庫表 WHERE 日付 = '" +
                                     today + "' AND code = '" + sel + "'");
            QVERIFY2(q == text, qPrintable(step + " — stored: " + q));
        } else if (verb == "entries") {
            const QString n = scalar("SELECT count(*) FROM 棚卸記録 WHERE 端末 = '" + phone +
                                     "' AND 種類 = '" + sel + "'");
            QVERIFY2(n == text, qPrintable(step + " — entries: " + n));
        } else if (verb == "sql") {
            QCOMPARE(scalar(before.mid(4)), expected);
        } else if (verb == "shot") {
            // Pictures for the guide, when tools/screenshots.sh asks for them.
            if (qEnvironmentVariableIsSet("STOLVA_SHOTS"))
                b.ask({{"do", "shot"}, {"path", qEnvironmentVariable("STOLVA_SHOTS") + "/" + sel}});
        } else {
            QFAIL(qPrintable("unknown step " + step));
        }
        QVERIFY2(b.failed.isEmpty(), qPrintable(step.left(120) + " — " + b.failed));
    }
}

STOLVA_WINDOW_TEST_MAIN(TestPage)
#include "tst_page.moc"
