#pragma once
// What every page of the setup sheet shares: the keys are loaded when the page is first shown and
// handed back as changes when the sheet closes with OK, so a page the user never opened changes
// nothing.

#include <QString>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

#include "keyring/PasswordKeyring.h"
#include "settings/ProfileStore.h"
#include "settings/SettingsKeys.h"

namespace qm {

// Shared by the pages while the sheet is open.
struct SetupContext {
    ProfileStore& profile;
    // The host the General page last showed: the Authentication page reads that server's section.
    std::string currentHost;
    // Where a password kept outside the profile goes.
    PasswordKeyring& keyring;
};

class CSetupPage : public QWidget {
    Q_OBJECT
public:
    CSetupPage(SetupContext& context, QWidget* parent);

    // The page has become the sheet's current page.
    void Enter();
    // The page stops being the current page (another tab, or OK pressed on it).
    virtual void Leave() {}
    bool WasShown() const { return shown_; }

    // The page's own files, written before the profile. False with a text for the user.
    virtual bool SaveFiles(QString& /*error*/) { return true; }
    // Adds the page's keys to the batch written on OK.
    virtual void Save(std::vector<ProfileStore::Change>& changes) = 0;
    // The batch reached the profile's file: what the page may tidy only once the profile no
    // longer needs it.
    virtual void Saved() {}

protected:
    virtual void Load() = 0;  // first display
    virtual void Shown() {}   // every display, after Load

    // The value of a main-section key with the setup page's default.
    QString PageText(const PageField& field) const;
    bool PageFlag(const PageField& field) const;
    // A value shown from bytes that are not UTF-8 goes back in the bytes it was shown from.
    void Put(std::vector<ProfileStore::Change>& changes, const PageField& field,
             const QString& text) const;
    static void PutFlag(std::vector<ProfileStore::Change>& changes, const PageField& field,
                        bool on);

    SetupContext& context_;

private:
    bool shown_ = false;
};

}  // namespace qm
