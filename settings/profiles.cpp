#include "settings/profiles.h"

#include "accounting/charges.h"
#include "settings/messages.h"
#include "settings/registry.h"
#include "settings/store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <functional>

namespace quorvane {

const std::string ProvidersKey = std::string(ProductKey) + "Providers";

namespace {

constexpr RootKey kHive = RootKey::LocalMachine;
const std::string kDefaultProviderPath = ProvidersKey + "\\DefaultProvider";
const char* const kTotals[] = {"Today", "InsidePeak", "OutsidePeak", "TotalTime"};

Duration& Total(TimerSet& timers, int index) {
    switch (index) {
    case 0:
        return timers.Today;
    case 1:
        return timers.InsidePeak;
    case 2:
        return timers.OutsidePeak;
    default:
        return timers.TotalTime;
    }
}

std::string Utf8(const QString& text) {
    return text.toStdString();
}

QObject* FindByName(const ProfileForm& form, const QString& name) {
    for (QObject* component : *form.components) {
        if (component->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return component;
    }
    return nullptr;
}

// A spin box stores the number its text spells, unclamped; its minimum when the text spells none.
int SpinBoxValue(const QSpinBox* spin) {
    const auto value = ParseInteger(Utf8(spin->cleanText()));
    return value ? static_cast<int>(*value) : spin->minimum();
}

// The entry picked from the list; -1 when the text was typed rather than picked (an editable
// box keeps its last index while the user types over it).
int PickedIndex(const QComboBox* combo) {
    const int index = combo->currentIndex();
    if (combo->isEditable() && index >= 0 && combo->itemText(index) != combo->currentText())
        return -1;
    return index;
}

// "DefaultProvider" as stored; empty when there is none.
Variant StoredDefault() {
    Variant value;
    ReadValueByPath(kHive, kDefaultProviderPath, vkString, value);
    return value;
}

void DefaultStep(const ProfileForm& form, bool& ok) {
    if (!form.ckSetAsDefault->isChecked())
        return;
    ok = WriteValueByPath(kHive, kDefaultProviderPath,
                          Variant(Utf8(form.cbProvider->currentText())), vkString) &&
         ok;
    form.ckSetAsDefault->setChecked(false);
}

bool Save(const ProfileForm& form, TimerSet& timers) {
    const QString name = form.cbProvider->currentText();
    if (!IsStorableProviderName(name))
        return false;
    const std::string key = ProviderKeyPath(name);
    // One commit for the whole profile: another reader never sees half of it, a failure leaves
    // the old profile whole, and the disk is flushed once instead of once per value.
    StoreTransaction batch(kHive);
    if (!batch.ok())
        return false; // no store, or another process holds it: nothing is written
    bool ok = true;
    const auto write = [&](const QString& valueName, const Variant& value, int kind) {
        ok = WriteValueByPath(kHive, key + Utf8(valueName), value, kind) && ok;
    };
    for (QObject* component : *form.components) {
        if (auto* spin = qobject_cast<QSpinBox*>(component)) {
            write(spin->objectName(), Variant(static_cast<std::int32_t>(SpinBoxValue(spin))),
                  vkInteger);
        } else if (auto* edit = qobject_cast<QLineEdit*>(component)) {
            write(edit->objectName(), Variant(Utf8(edit->text())), vkString);
        } else if (auto* combo = qobject_cast<QComboBox*>(component)) {
            if (combo == form.cbProv)
                write(QStringLiteral("eProv"), Variant(Utf8(combo->currentText())), vkString);
            else
                write(combo->objectName(), Variant(static_cast<std::int32_t>(PickedIndex(combo))),
                      vkInteger);
        } else if (auto* check = qobject_cast<QCheckBox*>(component)) {
            write(check->objectName(), Variant(check->isChecked()), vkBool);
        }
    }
    for (int i = 0; i < 4; ++i)
        write(QString::fromLatin1(kTotals[i]), Variant(static_cast<std::int32_t>(Total(timers, i))),
              vkInteger);
    DefaultStep(form, ok);
    if (!ok)
        return false; // the batch ends uncommitted: nothing of the profile is written
    try {
        batch.Commit();
    } catch (const StoreError&) {
        return false;
    }
    return true;
}

bool Load(const ProfileForm& form, TimerSet& timers) {
    const QString providerName = form.cbProvider->currentText();
    if (!IsStorableProviderName(providerName))
        return true; // nothing of such a name was ever stored
    const std::string key = ProviderKeyPath(providerName);
    std::vector<std::string> names;
    GetValueNamesByPath(kHive, key, names);
    for (const std::string& valueName : names) {
        const QString name = QString::fromStdString(valueName);
        const bool isProv = valueName == "eProv";
        QObject* control = isProv ? form.cbProv : FindByName(form, name);
        // What the name's beginning asks for, provided the control is of that kind.
        int kind = -1;
        std::function<void(const Variant&)> apply;
        if (name.startsWith(QLatin1String("ck"))) {
            if (auto* check = qobject_cast<QCheckBox*>(control)) {
                kind = vkBool;
                apply = [check](const Variant& v) { check->setChecked(v.toBool()); };
            }
        } else if (name.startsWith(QLatin1String("cb"))) {
            auto* combo = qobject_cast<QComboBox*>(control);
            if (combo && combo != form.cbProvider) {
                kind = vkInteger;
                apply = [combo](const Variant& v) {
                    // A combo box's index is set quietly: its reactions belong to the user's picks.
                    const QSignalBlocker quiet(combo);
                    const int index = v.toInt();
                    combo->setCurrentIndex(index >= -1 && index < combo->count() ? index : -1);
                };
            }
        } else if (name.startsWith(QLatin1String("se"))) {
            if (auto* spin = qobject_cast<QSpinBox*>(control)) {
                kind = vkInteger;
                apply = [spin](const Variant& v) { spin->setValue(v.toInt()); };
            }
        } else if (name.startsWith(QLatin1String("e"))) {
            auto* combo = isProv ? qobject_cast<QComboBox*>(control) : nullptr;
            auto* edit = qobject_cast<QLineEdit*>(control);
            if (combo || edit) {
                kind = vkString;
                apply = [combo, edit](const Variant& v) {
                    const QString text = QString::fromStdString(v.toString());
                    combo ? combo->setEditText(text) : edit->setText(text);
                };
            }
        }
        if (!apply)
            continue;
        // The read leaves the variant empty when the value has gone since it was listed.
        Variant value;
        ReadValueByPath(kHive, key + valueName, kind, value);
        if (!value.isEmpty())
            apply(value);
    }
    for (int i = 0; i < 4; ++i) {
        Variant value;
        ReadValueByPath(kHive, key + kTotals[i], vkInteger, value);
        if (!value.isEmpty())
            Total(timers, i) = value.toInt();
    }
    bool ok = true;
    DefaultStep(form, ok);
    return true;
}

} // namespace

std::string ProviderKeyPath(const QString& name) {
    if (StripSpaces(Utf8(name)).empty())
        return std::string(ProductKey) + "Unnamed Provider\\";
    return ProvidersKey + "\\" + Utf8(name) + "\\";
}

bool IsStorableProviderName(const QString& name) {
    return !name.contains(QLatin1Char('\\'));
}

bool TransferProviderSettings(const ProfileForm& form, bool load, TimerSet& timers) {
    return load ? Load(form, timers) : Save(form, timers);
}

bool FillProviderList(QComboBox* cbProvider, bool selectDefault) {
    const QSignalBlocker quiet(cbProvider);
    const QString remembered = cbProvider->currentText();
    cbProvider->clear();
    cbProvider->setEditText(QString());
    std::vector<std::string> names;
    GetKeyNamesByPath(kHive, ProvidersKey, names);
    for (const std::string& name : names)
        cbProvider->addItem(QString::fromStdString(name));
    // clear() and addItem() select the first entry of an editable box; nothing is picked yet.
    cbProvider->setCurrentIndex(-1);
    if (!selectDefault) {
        cbProvider->setEditText(remembered);
    } else if (const Variant stored = StoredDefault(); !stored.isEmpty()) {
        cbProvider->setEditText(QString::fromStdString(stored.toString()));
    } else if (cbProvider->count() > 0) {
        cbProvider->setCurrentIndex(0);
    }
    return true;
}

void SaveProvider(const ProfileForm& form, TimerSet& timers) {
    if (!IsStorableProviderName(form.cbProvider->currentText())) {
        ShowInformation(QStringLiteral("A provider's name cannot contain a backslash (\\).\r\n\r\n"
                                       "No settings were saved."));
        return;
    }
    if (TransferProviderSettings(form, false, timers)) {
        FillProviderList(form.cbProvider, false);
        ShowInformation(QStringLiteral("Provider settings have been saved to the Registry."));
    } else {
        ShowInformation(QStringLiteral("Some kind of error occured when trying to save the "
                                       "Provider information to the Registry?\r\n\r\n"
                                       "No settings were saved."));
    }
}

void DeleteProvider(const ProfileForm& form, TimerSet& timers) {
    const QString name = form.cbProvider->currentText();
    if (StripSpaces(Utf8(name)).empty() || !IsStorableProviderName(name))
        return;
    const std::string key = ProvidersKey + "\\" + Utf8(name);
    const QString quoted = QLatin1Char('"') + name + QLatin1Char('"');
    if (!KeyExists(kHive, key)) {
        ShowInformation(QStringLiteral("You must first click APPLY to save ") + quoted +
                        QStringLiteral("s information. Then, you will be able to click DELETE "
                                       "and remove them."));
        return;
    }
    if (AskConfirm(QStringLiteral("Are you sure you wish to remove ") + quoted +
                   QStringLiteral(" as a provider?")) != mrYes)
        return;
    DeleteKeyTree(kHive, key);
    if (KeyExists(kHive, ProvidersKey) && StoredDefault() == Variant(Utf8(name)))
        WriteValueByPath(kHive, kDefaultProviderPath, Variant(std::string()), vkString);
    FillProviderList(form.cbProvider, true);
    TransferProviderSettings(form, true, timers);
}

} // namespace quorvane
