#pragma once
// CGeneralTabDlg: the news server with the hosts used before, the port, the download directory,
// the article size limits, whether the main window shows the thumbnail, the server's encryption,
// connections and compression, and how often a lost connection is made again.

#include <QStringList>

#include "settings/ui/SetupPage.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace qm {

class CGeneralTabDlg : public CSetupPage {
    Q_OBJECT
public:
    CGeneralTabDlg(SetupContext& context, QWidget* parent);

    void Leave() override;
    void Save(std::vector<ProfileStore::Change>& changes) override;
    void OnFind();

protected:
    void Load() override;

private:
    // The drop-down list of hosts, filled the first time it is needed.
    QStringList HostList() const;
    void FillHostList();
    void OnListClosed();
    // The settings kept in the server's own section: encryption, connections, compression.
    void LoadServerSection(const QString& host);
    void SaveServerSection(const std::string& section, std::vector<ProfileStore::Change>& changes);

    QComboBox* host_;
    QComboBox* useTls_;
    QLineEdit *port_, *connections_, *directory_, *minLines_, *maxLines_, *reconnect_;
    QCheckBox *compression_, *thumbnail_;
    bool listFilled_ = false;
};

}  // namespace qm
