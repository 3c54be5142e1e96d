#include "app/ConnectionPanel.h"

#include "app/Startup.h"
#include "msg/Msg.h"
#include "store/Copy.h"
#include "widgets/Controls.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVBoxLayout>

namespace {
// The wait cursor while the server answers (at most the connect timeout).
struct Waiting {
    Waiting() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~Waiting() { QApplication::restoreOverrideCursor(); }
};
} // namespace

ConnectionPanel::ConnectionPanel(Store& store, QWidget* parent)
    : QGroupBox(QStringLiteral("接続先"), parent), m_store(store) {
    setObjectName("grp接続先");
    m_local = new QRadioButton(QStringLiteral("この PC（ローカル）"), this);
    m_local->setObjectName("optローカル");
    m_server = new QRadioButton(QStringLiteral("サーバー（PostgreSQL）"), this);
    m_server->setObjectName("optサーバー");
    auto* where = new QButtonGroup(this);
    where->setExclusive(true);
    where->addButton(m_local);
    where->addButton(m_server);
    m_host = new QLineEdit(this);
    m_host->setObjectName("txtホスト");
    m_port = new QSpinBox(this);
    m_port->setObjectName("txtポート");
    m_port->setRange(1, 65535);
    m_port->setValue(5432);
    m_database = new QLineEdit(this);
    m_database->setObjectName("txtデータベース");
    m_user = new QLineEdit(this);
    m_user->setObjectName("txtユーザー");
    m_said = makeLabel(this, "lbl接続結果", QString());
    m_said->setWordWrap(true);
    m_said->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // What is kept for the next start (the window shows this start's own).
    const Result<std::optional<server::Address>> kept = resolveServer();
    if (kept && kept.value)
        show(*kept.value);
    else
        m_local->setChecked(true);

    // Compact: the settings tab fits a 1024×768 screen.
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_local, 0, 0, 1, 2);
    grid->addWidget(m_server, 0, 2, 1, 2);
    const auto label = [this](const QString& text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    grid->addWidget(label(QStringLiteral("ホスト(&H)"), m_host), 1, 0);
    grid->addWidget(m_host, 1, 1);
    grid->addWidget(label(QStringLiteral("ポート"), m_port), 1, 2);
    grid->addWidget(m_port, 1, 3);
    grid->addWidget(label(QStringLiteral("データベース(&D)"), m_database), 2, 0);
    grid->addWidget(m_database, 2, 1);
    grid->addWidget(label(QStringLiteral("ユーザー(&U)"), m_user), 2, 2);
    grid->addWidget(m_user, 2, 3);
    QPushButton* test = makeButton(this, "cmd接続テスト", "接続テスト");
    QPushButton* keep = makeButton(this, "cmd接続保存", "接続保存");
    QPushButton* copy = makeButton(this, "cmdサーバーへコピー", "サーバーへコピー");
    copy->setToolTip(
        QStringLiteral("この PC のデータを、空のサーバーのデータベースへコピーします"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(test);
    buttons->addWidget(keep);
    buttons->addWidget(copy);
    buttons->addWidget(m_said, 1);
    grid->addLayout(buttons, 3, 0, 1, 4);
    grid->setColumnStretch(1, 2);
    grid->setColumnStretch(3, 1);
    setToolTip(QStringLiteral("パスワードは保存しません（~/.pgpass か PGPASSWORD で指定します）"));

    const auto enable = [this] {
        for (QWidget* w : std::initializer_list<QWidget*>{m_host, m_port, m_database, m_user})
            w->setEnabled(m_server->isChecked());
    };
    enable();
    connect(m_server, &QRadioButton::toggled, this, enable);
    connect(test, &QPushButton::clicked, this, &ConnectionPanel::test);
    connect(keep, &QPushButton::clicked, this, &ConnectionPanel::keep);
    connect(copy, &QPushButton::clicked, this, &ConnectionPanel::copy);
}

void ConnectionPanel::show(const server::Address& a) {
    m_server->setChecked(true);
    m_host->setText(a.host);
    m_port->setValue(a.port);
    m_database->setText(a.database);
    m_user->setText(a.user);
    m_options = a.options;
}

Result<server::Address> ConnectionPanel::address() const {
    Result<server::Address> r;
    if (m_host->text().trimmed().isEmpty() || m_database->text().trimmed().isEmpty()) {
        r.status = Status::failed(QStringLiteral("ホストとデータベースを入力してください。"));
        return r;
    }
    server::Address& a = r.value;
    a.host = m_host->text().trimmed();
    a.port = m_port->value();
    a.database = m_database->text().trimmed();
    a.user = m_user->text().trimmed();
    // What the boxes do not show (sslmode, sslrootcert, …) is kept as given.
    a.options = m_options;
    return r;
}

void ConnectionPanel::test() {
    if (!m_server->isChecked()) {
        m_said->setText(QStringLiteral("この PC のデータを使います。"));
        return;
    }
    const Result<server::Address> a = address();
    if (!a) {
        m_said->setText(a.status.error);
        return;
    }
    const QString name = QStringLiteral("connection-test");
    QString said;
    {
        Waiting wait;
        if (Status s = server::connect(name, a.value, 1500); !s) {
            said = s.error;
        } else {
            QSqlQuery q(QSqlDatabase::database(name, false));
            const bool ours = q.exec("SELECT to_regclass('stolva_schema') IS NOT NULL") &&
                              q.next() && q.value(0).toBool();
            said =
                QStringLiteral("サーバー %1 に接続できました（%2）。")
                    .arg(a.value.shown(), ours ? QStringLiteral("Stolva のデータがあります")
                                               : QStringLiteral("Stolva のデータはまだありません"));
        }
        QSqlDatabase::database(name, false).close();
    }
    QSqlDatabase::removeDatabase(name);
    m_said->setText(said);
}

void ConnectionPanel::keep() {
    QString url;
    if (m_server->isChecked()) {
        const Result<server::Address> a = address();
        if (!a) {
            m_said->setText(a.status.error);
            return;
        }
        url = a.value.url();
    }
    QSettings().setValue(QString::fromLatin1(ServerSetting), url);
    const QString said = url.isEmpty()
                             ? QStringLiteral("次の起動から、この PC のデータを使います。")
                             : QStringLiteral("次の起動から、サーバー %1 のデータを使います。")
                                   .arg(address().value.shown());
    m_said->setText(said);
    emit statusMessage(said);
}

void ConnectionPanel::copy() {
    const Result<server::Address> a = address();
    if (!m_server->isChecked() || !a) {
        m_said->setText(QStringLiteral("コピー先のサーバーを入力してください。"));
        return;
    }
    if (m_store.onServer()) {
        m_said->setText(QStringLiteral("いまのデータはすでにサーバーにあります。"));
        return;
    }
    if (AskChoice(
            QStringLiteral("サーバーへコピー"),
            QStringLiteral("この PC のデータをサーバー %1 へコピーします。").arg(a.value.shown()),
            {QStringLiteral("コピーする"), QStringLiteral("キャンセル")}, 1,
            QStringLiteral("サーバーのデータベースは空でなければなりません。"
                           "この PC のデータは変わりません。")) != 0)
        return;
    Result<QStringList> done;
    {
        Waiting wait;
        done = ledger::copyToServer(m_store, a.value);
    }
    if (!done) {
        ShowError(QStringLiteral("サーバーへコピーできませんでした。"), done.status.error);
        return;
    }
    m_said->setText(QStringLiteral("コピーしました。行数と合計は元と同じです。接続保存で、"
                                   "次の起動からサーバーのデータを使えます。"));
    emit statusMessage(QStringLiteral("サーバー %1 へコピーしました").arg(a.value.shown()));
}
