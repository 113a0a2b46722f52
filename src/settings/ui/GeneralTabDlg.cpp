#include "settings/ui/GeneralTabDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

#include "settings/SettingsKeys.h"
#include "ui/Controls.h"

namespace qm {
namespace {

// The remembered hosts: NNTPHost first, then the ones used before it, most recent first.
constexpr const TextSetting* kHostKeys[] = {&kNNTPHost, &kNNTPHost2, &kNNTPHost3, &kNNTPHost4};
constexpr int kRememberedHosts = 4;
constexpr long kMinConnections = 1;
constexpr long kMaxConnections = 16;

// An editable host list that says when its list opens and when it has closed.
class HostCombo : public QComboBox {
public:
    HostCombo(std::function<void()> opening, std::function<void()> closed, QWidget* parent)
        : QComboBox(parent), opening_(std::move(opening)), closed_(std::move(closed)) {}

    void showPopup() override {
        opening_();
        QComboBox::showPopup();
    }
    void hidePopup() override {
        QComboBox::hidePopup();
        // The click that closes the list sets its selection only after this returns.
        QTimer::singleShot(0, this, [this] { closed_(); });
    }

private:
    std::function<void()> opening_, closed_;
};

}  // namespace

CGeneralTabDlg::CGeneralTabDlg(SetupContext& context, QWidget* parent)
    : CSetupPage(context, parent) {
    setObjectName(QStringLiteral("generalPage"));
    host_ = new HostCombo([this] { FillHostList(); }, [this] { OnListClosed(); }, this);
    host_->setObjectName(QStringLiteral("hostCombo"));
    host_->setAccessibleName(QStringLiteral("News Server:"));
    host_->setEditable(true);
    // Enter in the field presses OK; it must not add the text to the list as well.
    host_->setInsertPolicy(QComboBox::NoInsert);
    host_->setMinimumContentsLength(32);
    host_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    port_ = MakeField("portEdit", "&Port:", this);
    SetWidthInChars(port_, 6);
    useTls_ = new QComboBox(this);
    useTls_->setObjectName(QStringLiteral("useTlsCombo"));
    useTls_->setAccessibleName(QStringLiteral("Use TLS"));
    // In the order of the values stored: 0 plain, 1 TLS from the first byte, 2 STARTTLS.
    useTls_->addItems({QStringLiteral("None"), QStringLiteral("TLS"), QStringLiteral("STARTTLS")});
    connections_ = MakeField("connectionsEdit", "Conn&ections:", this, true);
    SetWidthInChars(connections_, 3);
    connections_->setToolTip(QStringLiteral("Connections opened to the server, 1 to 16."));
    compression_ = MakeCheckBox("Use co&mpression", "useCompressionCheck", this);
    compression_->setToolTip(
        QStringLiteral("Transfers are compressed where the server offers COMPRESS DEFLATE."));
    directory_ = MakeField("downloadDirectoryEdit", "&Download Directory:", this);
    auto* find = MakeButton("&Find...", "findButton", this);
    minLines_ = MakeField("minLinesEdit", "Mi&n Lines:", this);
    maxLines_ = MakeField("maxLinesEdit", "Ma&x Lines:", this);
    SetWidthInChars(minLines_, 8);
    SetWidthInChars(maxLines_, 8);
    // A multi-part post is judged on the lines of all its parts.
    maxLines_->setToolTip(QStringLiteral(
        "The largest article, or multi-part post with all its parts, that is fetched, in lines. "
        "A yEnc line holds about 128 bytes, so 3000 lines are about 375 KiB; for today's photos "
        "of 2 to 5 MB enter 45000."));
    thumbnail_ = MakeCheckBox("Display &Thumbnail", "showThumbnailCheck", this);
    reconnect_ = MakeField("reconnectEdit", "Attempt &Reconnect", this, true);
    SetWidthInChars(reconnect_, 4);

    auto* grid = new QGridLayout;
    grid->addWidget(MakeLabel("News &Server:", host_, this), 0, 0);
    grid->addWidget(host_, 0, 1, 1, 2);
    grid->addWidget(MakeLabel("&Port:", port_, this), 1, 0);
    grid->addWidget(port_, 1, 1, Qt::AlignLeft);
    // Beside the port: how the server is reached. Alt+T belongs to the thumbnail box on this
    // page, so the choice answers to Alt+L.
    grid->addWidget(MakeLabel("Use T&LS", useTls_, this), 2, 0);
    grid->addWidget(useTls_, 2, 1, Qt::AlignLeft);
    auto* server = new QHBoxLayout;
    server->addWidget(connections_);
    server->addSpacing(fontMetrics().averageCharWidth() * 4);
    server->addWidget(compression_);
    server->addStretch(1);
    grid->addWidget(MakeLabel("Conn&ections:", connections_, this), 3, 0);
    grid->addLayout(server, 3, 1);
    grid->addWidget(MakeLabel("&Download Directory:", directory_, this), 4, 0);
    grid->addWidget(directory_, 4, 1);
    grid->addWidget(find, 4, 2);
    grid->setColumnStretch(1, 1);

    auto* lines = new QHBoxLayout;
    lines->addWidget(MakeLabel("Mi&n Lines:", minLines_, this));
    lines->addWidget(minLines_);
    lines->addSpacing(fontMetrics().averageCharWidth() * 4);
    lines->addWidget(MakeLabel("Ma&x Lines:", maxLines_, this));
    lines->addWidget(maxLines_);
    lines->addStretch(1);

    auto* again = new QHBoxLayout;
    again->addWidget(MakeLabel("Attempt &Reconnect", reconnect_, this));
    again->addWidget(reconnect_);
    again->addWidget(new QLabel(QStringLiteral("Times"), this));
    again->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(lines);
    layout->addWidget(thumbnail_);
    layout->addLayout(again);
    layout->addStretch(1);

    connect(find, &QPushButton::clicked, this, &CGeneralTabDlg::OnFind);
}

void CGeneralTabDlg::Load() {
    thumbnail_->setChecked(PageFlag(kShowThumbnail));
    host_->setEditText(PageText(kNNTPHost));
    port_->setText(PageText(kNNTPPort));
    directory_->setText(PageText(kDownloadDirectory));
    minLines_->setText(PageText(kMinLines));
    maxLines_->setText(PageText(kMaxLines));
    reconnect_->setText(PageText(kReconnect));
    LoadServerSection(host_->currentText());
}

// These belong to the server's section, beside its login; a server without them shows the
// defaults.
void CGeneralTabDlg::LoadServerSection(const QString& host) {
    const std::string section = host.toStdString();
    const ProfileStore& profile = context_.profile;
    long mode = section.empty() ? 0 : kUseTLS.Read(profile, section);
    useTls_->setCurrentIndex(mode >= 0 && mode <= 2 ? static_cast<int>(mode) : 0);
    connections_->setText(QString::number(kConnections.Read(profile, section)));
    compression_->setChecked(kUseCompression.IsOn(profile, section));
}

// A number of connections outside 1 to 16 is stored as the nearest one; an empty field keeps
// what was stored.
void CGeneralTabDlg::SaveServerSection(const std::string& section,
                                       std::vector<ProfileStore::Change>& changes) {
    changes.push_back(kUseTLS.Change(section, useTls_->currentIndex()));
    bool typed = false;
    long connections = connections_->text().toLong(&typed);
    if (!typed) connections = kConnections.Read(context_.profile, section);
    connections = std::clamp(connections, kMinConnections, kMaxConnections);
    changes.push_back(kConnections.Change(section, connections));
    changes.push_back(kUseCompression.ChangeFlag(section, compression_->isChecked()));
}

void CGeneralTabDlg::FillHostList() {
    if (listFilled_) return;
    listFilled_ = true;
    const QString typed = host_->currentText();
    QSignalBlocker quiet(host_);
    for (const TextSetting* key : kHostKeys) {
        const QString host = PageText(*key);
        if (!host.isEmpty()) host_->addItem(host);
    }
    // Filling the list must not replace what the field shows.
    host_->setCurrentIndex(-1);
    host_->setEditText(typed);
}

QStringList CGeneralTabDlg::HostList() const {
    QStringList hosts;
    for (int i = 0; i < host_->count(); ++i) hosts << host_->itemText(i);
    return hosts;
}

// A host picked from further down the list becomes the most recent one.
void CGeneralTabDlg::OnListClosed() {
    const int picked = host_->currentIndex();
    if (picked <= 0) return;
    const QString host = host_->itemText(picked);
    QSignalBlocker quiet(host_);
    host_->removeItem(picked);
    host_->insertItem(0, host);
    host_->setCurrentIndex(0);
    LoadServerSection(host);
}

void CGeneralTabDlg::OnFind() {
    // The chooser opens at the directory in the field, or the nearest one above it that exists
    // (a first start names one that is yet to be made).
    QString start = QDir::cleanPath(directory_->text());
    while (!start.isEmpty() && !QFileInfo(start).isDir()) {
        const qsizetype slash = start.lastIndexOf(QLatin1Char('/'));
        start = slash > 0 ? start.left(slash) : slash == 0 ? QStringLiteral("/") : QString();
    }
    const QString chosen = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Please choose the directory"), start, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return;
    directory_->setText(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/'));
}

void CGeneralTabDlg::Leave() {
    context_.currentHost = host_->currentText().toStdString();
}

void CGeneralTabDlg::Save(std::vector<ProfileStore::Change>& changes) {
    PutFlag(changes, kShowThumbnail, thumbnail_->isChecked());
    if (!directory_->text().endsWith(QLatin1Char('/'))) {
        directory_->setText(directory_->text() + QLatin1Char('/'));
    }
    const QString host = host_->currentText();
    if (!host.isEmpty()) Put(changes, kNNTPHost, host);
    // A new host typed without a look at the list still moves the earlier ones down, so none of
    // them is forgotten only because the list was never opened.
    if (!host.isEmpty()) FillHostList();
    const QStringList hosts = HostList();
    if (!hosts.isEmpty() && hosts.front() == host) {
        // The first host stays; the others keep their places after it.
        for (int i = 1; i < hosts.size() && i < kRememberedHosts; ++i) {
            if (!hosts[i].isEmpty()) Put(changes, *kHostKeys[i], hosts[i]);
        }
    } else {
        // A new host: the earlier ones move down one place and the oldest is dropped.
        for (int i = 0; i < hosts.size() && i + 1 < kRememberedHosts; ++i) {
            if (!hosts[i].isEmpty()) Put(changes, *kHostKeys[i + 1], hosts[i]);
        }
    }
    Put(changes, kNNTPPort, port_->text());
    Put(changes, kDownloadDirectory, directory_->text());
    Put(changes, kMinLines, minLines_->text());
    Put(changes, kMaxLines, maxLines_->text());
    Put(changes, kReconnect, reconnect_->text());
    const std::string section = host.toStdString();
    if (!section.empty() && ProfileStore::StorableSection(section)) {
        SaveServerSection(section, changes);
    }
}

}  // namespace qm
