#include "app/profile_form.h"

#include "accounting/charges.h"
#include "accounting/rollover.h"
#include "app/messages.h"
#include "core/clock.h"
#include "core/text.h"
#include "settings/profiles.h"
#include "settings/rollover_store.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <functional>
#include <map>

namespace quorvane {

namespace {

std::string Utf8(const QString& text) {
    return text.toStdString();
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

// "Set as Default" acts once, on the provider the box names, and then clears itself.
bool TakeSetAsDefault(const ProfileForm& form) {
    const bool checked = form.ckSetAsDefault->isChecked();
    form.ckSetAsDefault->setChecked(false);
    return checked;
}

// The data totals and alerts a save writes; none when the form has none.
std::optional<ProfileData> DataOf(const ProfileForm& form) {
    if (!form.data)
        return std::nullopt;
    return ProfileData{DataTotalsOf(*form.data), form.dataAlerts ? *form.dataAlerts : 0};
}

// The save, with what goes into the same commit before it: the stopped sessions whose save is
// still to be made, and the row of the session's stretch that it ends. A row the history refuses
// (one of a newer version, say) is lost; the totals never are for it.
bool WithSessionWrites(const ProfileForm& form, const std::function<bool()>& save) {
    ProfileSaveSession* const session = form.session;
    const bool stops = session && session->StopsPending();
    if (!form.history && !stops)
        return save();
    const auto writes = [&] {
        if (stops && !session->WritePendingStops())
            return false;
        if (form.history)
            AppendSessionStretch(*form.history);
        return save();
    };
    if (!stops)
        return WriteTogether(HKEY_LOCAL_MACHINE, writes);
    bool done = false;
    try {
        done = WriteTogether(HKEY_LOCAL_MACHINE, writes);
    } catch (...) {
        session->PendingStopsWritten(false);
        throw;
    }
    session->PendingStopsWritten(done);
    return done;
}

bool Save(const ProfileForm& form, TimerSet& timers, DateTime savedFor) {
    const std::string provider = Utf8(ProviderOf(form));
    if (!IsStorableProviderName(provider))
        return false;
    std::vector<ProfileSetting> settings;
    const auto add = [&](const QString& name, Variant value, int kind) {
        settings.push_back({Utf8(name), std::move(value), kind});
    };
    for (QObject* component : *form.components) {
        if (auto* spin = qobject_cast<QSpinBox*>(component)) {
            add(spin->objectName(), Variant(static_cast<std::int32_t>(SpinBoxValue(spin))),
                vkInteger);
        } else if (auto* edit = qobject_cast<QLineEdit*>(component)) {
            add(edit->objectName(), Variant(Utf8(edit->text())), vkString);
        } else if (auto* combo = qobject_cast<QComboBox*>(component)) {
            if (combo == form.cbProv)
                add(QStringLiteral("eProv"), Variant(Utf8(combo->currentText())), vkString);
            else if (combo->objectName().startsWith(QLatin1Char('e')))
                add(combo->objectName(), Variant(Utf8(combo->currentText())), vkString);
            else
                add(combo->objectName(), Variant(static_cast<std::int32_t>(PickedIndex(combo))),
                    vkInteger);
        } else if (auto* check = qobject_cast<QCheckBox*>(component)) {
            add(check->objectName(), Variant(check->isChecked()), vkBool);
        }
    }
    settings.push_back(LastSaveDateSetting(savedFor));
    const SessionStateChange change =
        form.session ? form.session->ForSave(provider) : SessionStateChange{};
    const std::optional<ProfileData> data = DataOf(form);
    if (!WithSessionWrites(form, [&] {
            return SaveProfile(provider, settings, TotalsOf(timers), TakeSetAsDefault(form),
                               &change, data ? &*data : nullptr);
        }))
        return false;
    if (form.session)
        form.session->Saved(change);
    return true;
}

bool Load(const ProfileForm& form, TimerSet& timers) {
    const std::string provider = Utf8(ProviderOf(form));
    if (!IsStorableProviderName(provider))
        return true; // nothing of such a name was ever stored
    // What each stored name is applied to: the control of that name, provided it is of the kind
    // the name's beginning asks for.
    std::map<std::string, std::function<void(const Variant&)>> appliers;
    const auto kindOf = [&](const std::string& valueName) {
        const QString name = QString::fromStdString(valueName);
        const bool isProv = valueName == "eProv";
        QObject* control = isProv ? form.cbProv : FindComponent(*form.components, name);
        std::function<void(const Variant&)> apply;
        const int kind = SettingKind(valueName);
        if (kind == vkBool) {
            if (auto* check = qobject_cast<QCheckBox*>(control))
                apply = [check](const Variant& v) { check->setChecked(v.toBool()); };
        } else if (kind == vkInteger && name.startsWith(QLatin1String("cb"))) {
            auto* combo = qobject_cast<QComboBox*>(control);
            if (combo && combo != form.cbProvider) {
                apply = [combo](const Variant& v) {
                    // A combo box's index is set quietly: its reactions belong to the user's picks.
                    const QSignalBlocker quiet(combo);
                    const int index = v.toInt();
                    combo->setCurrentIndex(index >= -1 && index < combo->count() ? index : -1);
                };
            }
        } else if (kind == vkInteger) {
            if (auto* spin = qobject_cast<QSpinBox*>(control))
                apply = [spin](const Variant& v) { spin->setValue(v.toInt()); };
        } else if (kind == vkString) {
            // The seek text, or a combo box that keeps its text under an "e" name.
            auto* combo = qobject_cast<QComboBox*>(control);
            auto* edit = qobject_cast<QLineEdit*>(control);
            if (combo || edit) {
                apply = [combo, edit](const Variant& v) {
                    const QString text = QString::fromStdString(v.toString());
                    combo ? combo->setEditText(text) : edit->setText(text);
                };
            }
        }
        if (!apply)
            return -1;
        appliers[valueName] = std::move(apply);
        return kind;
    };
    LoadProfileSettings(provider, kindOf, [&](const std::string& name, const Variant& value) {
        appliers[name](value);
    });
    ProfileTotals totals = TotalsOf(timers);
    LoadProfileTotals(provider, totals);
    SetTotals(timers, totals);
    if (form.data) {
        ProfileData data = *DataOf(form);
        LoadProfileData(provider, data);
        SetDataTotals(*form.data, data.totals);
        if (form.dataAlerts)
            *form.dataAlerts = data.alerts;
    }
    if (!StoredTodayHolds(ReadLastSaveDate(provider), DateOf(Now()))) {
        timers.Today = 0;
        if (form.data)
            form.data->today = {};
    }
    if (form.session)
        form.session->Loaded(provider, timers, form.data);
    if (TakeSetAsDefault(form))
        SetDefaultProvider(provider);
    return true;
}

} // namespace

QString ProviderOf(const ProfileForm& form) {
    return form.provider ? *form.provider : form.cbProvider->currentText();
}

ProfileTotals TotalsOf(const TimerSet& timers) {
    return {timers.Today, timers.InsidePeak, timers.OutsidePeak, timers.TotalTime};
}

void SetTotals(TimerSet& timers, const ProfileTotals& totals) {
    timers.Today = totals[0];
    timers.InsidePeak = totals[1];
    timers.OutsidePeak = totals[2];
    timers.TotalTime = totals[3];
}

ProfileDataTotals DataTotalsOf(const DataTotals& data) {
    return {data.today.rx, data.today.tx, data.total.rx, data.total.tx};
}

void SetDataTotals(DataTotals& data, const ProfileDataTotals& totals) {
    data = {{totals[0], totals[1]}, {totals[2], totals[3]}};
}

QObject* FindComponent(const std::vector<QObject*>& components, const QString& name) {
    for (QObject* component : components) {
        if (component->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return component;
    }
    return nullptr;
}

bool TransferProviderSettings(const ProfileForm& form, bool load, TimerSet& timers,
                              std::optional<DateTime> savedFor) {
    return load ? Load(form, timers) : Save(form, timers, savedFor.value_or(DateOf(Now())));
}

bool SaveStoredTotals(const ProfileForm& form, const TimerSet& timers,
                      std::optional<DateTime> savedFor, bool makeKey) {
    const std::string provider = Utf8(ProviderOf(form));
    const SessionStateChange change =
        form.session ? form.session->ForSave(provider) : SessionStateChange{};
    const std::optional<ProfileData> data = DataOf(form);
    if (!WithSessionWrites(form, [&] {
            return SaveStoredTotals(provider,
                                    {LastSaveDateSetting(savedFor.value_or(DateOf(Now())))},
                                    TotalsOf(timers), &change, data ? &*data : nullptr, makeKey);
        }))
        return false;
    if (form.session)
        form.session->Saved(change);
    return true;
}

bool FillProviderList(QComboBox* cbProvider, bool selectDefault) {
    const QSignalBlocker quiet(cbProvider);
    const QString remembered = cbProvider->currentText();
    cbProvider->clear();
    cbProvider->setEditText(QString());
    for (const std::string& name : StoredProviderNames())
        cbProvider->addItem(QString::fromStdString(name));
    // clear() and addItem() select the first entry of an editable box; nothing is picked yet.
    cbProvider->setCurrentIndex(-1);
    if (!selectDefault) {
        cbProvider->setEditText(remembered);
    } else if (const auto stored = StoredDefaultProvider()) {
        cbProvider->setEditText(QString::fromStdString(*stored));
    } else if (cbProvider->count() > 0) {
        cbProvider->setCurrentIndex(0);
    }
    return true;
}

bool SaveProvider(const ProfileForm& form, TimerSet& timers) {
    if (!IsStorableProviderName(Utf8(ProviderOf(form)))) {
        ShowInformation(QStringLiteral("A provider's name cannot contain a backslash (\\).\r\n\r\n"
                                       "No settings were saved."));
        return false;
    }
    if (!TransferProviderSettings(form, false, timers)) {
        ShowInformation(QStringLiteral("Some kind of error occured when trying to save the "
                                       "Provider information to the Registry?\r\n\r\n"
                                       "No settings were saved."));
        return false;
    }
    FillProviderList(form.cbProvider, false);
    ShowInformation(QStringLiteral("Provider settings have been saved to the Registry."));
    return true;
}

bool DeleteProvider(const ProfileForm& form) {
    const QString name = form.cbProvider->currentText();
    const std::string provider = Utf8(name);
    if (StripSpaces(provider).empty() || !IsStorableProviderName(provider))
        return false;
    const QString quoted = QLatin1Char('"') + name + QLatin1Char('"');
    if (!ProviderExists(provider)) {
        ShowInformation(QStringLiteral("You must first click APPLY to save ") + quoted +
                        QStringLiteral("s information. Then, you will be able to click DELETE "
                                       "and remove them."));
        return false;
    }
    if (AskConfirm(QStringLiteral("Are you sure you wish to remove ") + quoted +
                   QStringLiteral(" as a provider?")) != mrYes)
        return false;
    DeleteProviderProfile(provider);
    return true;
}

} // namespace quorvane
