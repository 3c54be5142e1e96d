#include "phones/PhoneDialog.h"

#include "msg/Msg.h"
#include "widgets/Controls.h"
#include "widgets/Grids.h"
#include "widgets/RowsModel.h"

#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHostInfo>
#include <QLabel>
#include <QNetworkInterface>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <qrencode.h>

namespace phones {

QStringList lanAddresses() {
    QStringList out;
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            out << a.toString();
    out << QHostInfo::localHostName().toLower();
    return out;
}

QImage qrCode(const QString& text, int scale) {
    const QByteArray utf8 = text.toUtf8();
    QRcode* code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return QImage();
    const int quiet = 4, side = (code->width + 2 * quiet) * scale;
    QImage img(side, side, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                p.fillRect((x + quiet) * scale, (y + quiet) * scale, scale, scale, Qt::black);
    QRcode_free(code);
    return img;
}

namespace {
// Where phones are served on this PC (tests keep it on loopback).
QString listenHost() {
    return QSettings().value("phones/host", "0.0.0.0").toString();
}
// The addresses phones use: the LAN's when serving on all of them, else the
// one served on.
QStringList servedAddresses() {
    const QString host = listenHost();
    return host == QLatin1String("0.0.0.0") ? lanAddresses() : QStringList{host};
}
} // namespace

PhoneDialog::PhoneDialog(Store& store, PhoneServer& server, QWidget* parent)
    : QDialog(parent), m_store(store), m_server(server) {
    setObjectName("dlgスマホ棚卸");
    setWindowTitle(QStringLiteral("スマホで数える"));
    m_serve = new QCheckBox(QStringLiteral("スマホの受付"), this);
    m_serve->setObjectName("chkスマホ受付");
    m_serve->setChecked(server.running());
    m_port = new QSpinBox(this);
    m_port->setObjectName("numポート");
    m_port->setRange(1024, 65534);
    m_port->setValue(QSettings().value("phones/port", 8443).toInt());
    m_where = makeLabel(this, "lbl受付先", QString());
    m_where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_qr = makeLabel(this, "imgQR", QString());
    m_qr->setAlignment(Qt::AlignCenter);
    m_qr->setMinimumSize(240, 240);
    QPushButton* again = makeButton(this, "cmd新しいQR", "新しい QR コード");
    m_model = new RowsModel({"名前", "担当", "最終接続", "今日の記録"},
                            {Qt::AlignLeft, Qt::AlignLeft, Qt::AlignLeft, Qt::AlignRight}, this);
    m_devices = rowsView(this, "lst端末", m_model, {2200, 1500, 1800, 1200}, 3);
    QPushButton* revoke = makeButton(this, "cmd端末解除", "登録を解除");
    QPushButton* close = makeButton(this, "cmdスマホ閉じる", "閉じる");
    m_said = makeLabel(this, "lblスマホ", QString());

    auto* top = new QHBoxLayout;
    top->addWidget(m_serve);
    top->addSpacing(12);
    top->addWidget(makeLabel(this, "Labelポート", "ポート"));
    top->addWidget(m_port);
    top->addStretch(1);
    auto* qr = new QVBoxLayout;
    qr->addWidget(m_qr);
    qr->addWidget(again);
    auto* middle = new QHBoxLayout;
    middle->addLayout(qr);
    auto* list = new QVBoxLayout;
    list->addWidget(m_where);
    list->addWidget(makeLabel(this, "Label端末", "登録したスマホ"));
    list->addWidget(m_devices, 1);
    middle->addLayout(list, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(revoke);
    buttons->addWidget(m_said, 1);
    buttons->addWidget(close);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addLayout(middle, 1);
    v->addLayout(buttons);
    resize(twips(this, 11000), twips(this, 6500));

    connect(m_serve, &QCheckBox::toggled, this, &PhoneDialog::serve);
    connect(again, &QPushButton::clicked, this, &PhoneDialog::newCode);
    connect(revoke, &QPushButton::clicked, this, &PhoneDialog::revoke);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(&server, &PhoneServer::recorded, this, &PhoneDialog::refresh);
    connect(&server, &PhoneServer::renewed, this, &PhoneDialog::served);
    m_refresh.setInterval(5000); // last contacts move without entries
    connect(&m_refresh, &QTimer::timeout, this, &PhoneDialog::refresh);
    m_refresh.start();
    refresh();
    // Opened again while serving: where phones reach it and a QR code at once.
    if (server.running())
        served();
}

void PhoneDialog::serve(bool on) {
    if (!on) {
        m_server.stop();
        m_qr->clear();
        m_where->setText(QStringLiteral("受付していません"));
        return;
    }
    const QString folder = m_store.dataPath() + QStringLiteral("phones");
    const Result<Certificates> certs = ensureCertificates(folder, servedAddresses());
    Status s = certs.status;
    if (s) {
        m_server.watchAddresses(folder, servedAddresses);
        s = m_server.start(certs.value, listenHost(), m_port->value());
    }
    if (!s) {
        ShowError(QStringLiteral("スマホの受付を始められませんでした。"), s.error);
        const QSignalBlocker quiet(m_serve);
        m_serve->setChecked(false);
        return;
    }
    QSettings().setValue("phones/port", m_port->value());
    served();
}

// Where phones reach this PC and the QR code for the next one, again when
// the certificate was renewed for new addresses.
void PhoneDialog::served() {
    if (!m_server.running()) {
        const QSignalBlocker quiet(m_serve);
        m_serve->setChecked(false);
        m_qr->clear();
        m_where->setText(QStringLiteral("受付していません"));
        return;
    }
    const Certificates& certs = m_server.certificates();
    m_fingerprint = certs.fingerprint;
    m_address = certs.addresses.value(0);
    QStringList where;
    for (const QString& a : certs.addresses)
        where << QStringLiteral("https://%1:%2/").arg(a).arg(m_port->value());
    m_where->setText(QStringLiteral("数える画面: ") + where.join(QStringLiteral("　")) +
                     QStringLiteral("\n証明書を入れる画面: http://%1:%2/")
                         .arg(m_address)
                         .arg(m_port->value() + 1));
    newCode();
}

void PhoneDialog::newCode() {
    if (!m_server.running()) {
        m_qr->clear();
        return;
    }
    // The address, a token that pairs one phone within two minutes, and the
    // certificate the phone must see.
    const QString url = QStringLiteral("https://%1:%2/#pair=%3&fp=%4")
                            .arg(m_address)
                            .arg(m_server.port())
                            .arg(m_server.pairingToken(), QString(m_fingerprint).remove(':'));
    m_qr->setPixmap(QPixmap::fromImage(qrCode(url, 4)));
    m_qr->setToolTip(url);
    m_said->setText(QStringLiteral("QR コードは 2 分間有効です"));
}

void PhoneDialog::refresh() {
    const Result<QVector<Device>> list = devices(m_store, QDate::currentDate());
    if (!list)
        return;
    m_shown = list.value;
    QVector<QStringList> rows;
    for (const Device& d : m_shown)
        rows << QStringList{
            d.name, d.counter,
            QDateTime::fromString(d.lastSeen, Qt::ISODate).toLocalTime().toString("MM/dd hh:mm"),
            QString::number(d.entriesToday)};
    m_model->setRows(std::move(rows));
}

void PhoneDialog::revoke() {
    const QModelIndex i = m_devices->currentIndex();
    if (!i.isValid() || i.row() >= m_shown.size()) {
        ShowMsg(MsgKind::その他, MsgCase::メッセージ, "解除するスマホを選んでください。");
        return;
    }
    const Device d = m_shown[i.row()];
    if (ShowMsg(MsgKind::その他, MsgCase::確認,
                QStringLiteral("「%1」の登録を解除します").arg(d.name)) != True)
        return;
    if (Status s = revokeDevice(m_store, d.id, QDateTime::currentDateTimeUtc()); !s) {
        ShowError(QStringLiteral("登録を解除できませんでした。"), s.error);
        return;
    }
    m_said->setText(QStringLiteral("「%1」の登録を解除しました").arg(d.name));
    refresh();
}

} // namespace phones
