#pragma once
// CGeneralTabDlg: the news server with the hosts used before, the port, the download directory,
// the article size limits and whether the main window shows the thumbnail.

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

    // The drop-down list of hosts, filled the first time it is needed.
    QStringList HostList() const;
    void OnFind();

protected:
    void Load() override;

private:
    void FillHostList();
    void OnListClosed();

    QComboBox* host_;
    QLineEdit *port_, *directory_, *minLines_, *maxLines_, *reconnect_;
    QCheckBox* thumbnail_;
    bool listFilled_ = false;
};

}  // namespace qm
