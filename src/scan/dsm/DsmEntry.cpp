// DSM_Entry of our source manager: the manager's own triplets (parent, identities,
// status) and the routing of everything else to the open data source.

#include "scan/TW_Const.h"
#include "scan/dsm/DsmDialogs.h"
#include "scan/dsm/DsmSane.h"
#include "scan/dsm/DsmSettings.h"
#include "scan/dsm/DsmSource.h"
#include "scan/dsm/DsmWorker.h"

#include <QWidget>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#define DSM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct TManager {
    int State = 2;  // 2 loaded, 3 open
    TW_IDENTITY App{};
    QWidget* Parent = nullptr;
    TW_UINT16 Condition = TWCC_SUCCESS;
    std::vector<TSaneDeviceInfo> Devices;
    std::map<std::string, TW_UINT32> Ids;  // stable for the life of the process
    TW_UINT32 NextId = 100;
    size_t EnumPos = 0;
    std::unique_ptr<TDsmSource> Source;
    // Closed sources whose calls are still on the stack; freed once they have returned.
    std::vector<std::unique_ptr<TDsmSource>> Closed;
    bool Busy = false;
    TExtraOptions Extra;
};

TManager& Dsm()
{
    static TManager m;
    return m;
}

TW_UINT16 Fail(TW_UINT16 cc)
{
    Dsm().Condition = cc;
    return TWRC_FAILURE;
}

TW_UINT16 Ok()
{
    Dsm().Condition = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

void CopyStr(char* dst, const std::string& src)
{
    std::memset(dst, 0, 34);
    std::strncpy(dst, src.c_str(), 33);
}

TW_UINT32 IdOf(const std::string& name)
{
    TManager& m = Dsm();
    auto it = m.Ids.find(name);
    if (it != m.Ids.end())
        return it->second;
    m.Ids[name] = m.NextId;
    return m.NextId++;
}

void FillIdentity(TW_IDENTITY& id, const TSaneDeviceInfo& d)
{
    std::memset(&id, 0, sizeof id);
    id.Id = IdOf(d.Name);
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_ITALIAN;
    id.Version.Country = TWCY_ITALY;
    CopyStr(id.Version.Info, "SANE");
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    CopyStr(id.Manufacturer, d.Vendor);
    CopyStr(id.ProductFamily, d.Model);
    // The SANE device name identifies the source; it travels in ProductName.
    CopyStr(id.ProductName, d.Name);
}

// Refreshes the device list on the worker; false when the user abandoned the wait.
bool RefreshDevices()
{
    TManager& m = Dsm();
    auto list = std::make_shared<std::vector<TSaneDeviceInfo>>();
    auto worker = CurrentSaneWorker();
    auto job = worker->Submit([list] { SaneListDevices(*list); });
    m.Busy = true;
    const bool done = WaitForJob(job, m.Parent, "ricerca degli scanner");
    m.Busy = false;
    if (!done) {
        AbandonSaneWorker(worker);
        return false;
    }
    m.Devices = *list;
    return true;
}

int DefaultIndex()
{
    TManager& m = Dsm();
    const std::string stored = StoredDefault();
    for (size_t i = 0; i < m.Devices.size(); ++i)
        if (m.Devices[i].Name == stored)
            return static_cast<int>(i);
    return m.Devices.empty() ? -1 : 0;
}

// The device an identity names: by Id, else by ProductName, else the default one.
int FindDevice(const TW_IDENTITY& id)
{
    TManager& m = Dsm();
    if (id.Id != 0)
        for (size_t i = 0; i < m.Devices.size(); ++i)
            if (IdOf(m.Devices[i].Name) == id.Id)
                return static_cast<int>(i);
    const std::string name(id.ProductName, strnlen(id.ProductName, 34));
    if (!name.empty()) {
        for (size_t i = 0; i < m.Devices.size(); ++i)
            if (m.Devices[i].Name == name)
                return static_cast<int>(i);
        // Names longer than the field were cut to 33 characters.
        for (size_t i = 0; i < m.Devices.size(); ++i)
            if (m.Devices[i].Name.compare(0, name.size(), name) == 0)
                return static_cast<int>(i);
        return -1;
    }
    return DefaultIndex();
}

TW_UINT16 OpenSource(TW_IDENTITY* id)
{
    TManager& m = Dsm();
    if (m.State != 3 || m.Source)
        return Fail(TWCC_SEQERROR);
    if (!RefreshDevices())
        return Fail(TWCC_CHECKDEVICEONLINE);
    const int index = FindDevice(*id);
    if (index < 0)
        return Fail(TWCC_NODS);
    const TSaneDeviceInfo device = m.Devices[static_cast<size_t>(index)];
    struct Result {
        SANE_Status Status = SANE_STATUS_GOOD;
        SANE_Handle Handle = nullptr;
        TDeviceCaps Caps;
    };
    auto result = std::make_shared<Result>();
    auto worker = CurrentSaneWorker();
    const std::string name = device.Name;
    auto job = worker->Submit([result, name] {
        result->Status = SaneEnsureInit();
        if (result->Status == SANE_STATUS_GOOD)
            result->Status = sane_open(name.c_str(), &result->Handle);
        if (result->Status == SANE_STATUS_GOOD)
            SaneReadCaps(result->Handle, result->Caps);
    });
    m.Busy = true;
    const bool done = WaitForJob(job, m.Parent, "apertura dello scanner");
    m.Busy = false;
    if (!done) {
        AbandonSaneWorker(worker);
        return Fail(TWCC_CHECKDEVICEONLINE);
    }
    if (result->Status != SANE_STATUS_GOOD)
        return Fail(result->Status == SANE_STATUS_DEVICE_BUSY ? TWCC_MAXCONNECTIONS : SaneStatusCondition(result->Status));
    FillIdentity(*id, device);
    TDeviceLister lister = [](bool refresh) {
        if (refresh)
            RefreshDevices();
        return Dsm().Devices;
    };
    m.Source = std::make_unique<TDsmSource>(*id, device, worker, result->Handle, result->Caps, m.Extra, lister);
    return Ok();
}

TW_UINT16 CloseSource(TW_IDENTITY* id)
{
    TManager& m = Dsm();
    if (!m.Source)
        return Fail(TWCC_SEQERROR);
    if (id && id->Id != 0 && id->Id != m.Source->Identity.Id)
        return Fail(TWCC_BADDEST);
    if (m.Source->State != 4)
        return Fail(TWCC_SEQERROR);
    m.Busy = true;
    m.Source->CloseDevice(m.Parent);
    m.Busy = false;
    m.Closed.push_back(std::move(m.Source));
    return Ok();
}

TW_UINT16 UserSelect(TW_IDENTITY* id)
{
    TManager& m = Dsm();
    if (!RefreshDevices())
        return Fail(TWCC_CHECKDEVICEONLINE);
    if (m.Devices.empty())
        return Fail(TWCC_NODS);
    int current = FindDevice(*id);
    if (current < 0)
        current = DefaultIndex();
    TSelectSourceDialog dlg(m.Devices, current, m.Parent);
    m.Busy = true;
    const int answer = dlg.exec();
    m.Busy = false;
    const int picked = dlg.Selected();
    if (answer != QDialog::Accepted || picked < 0) {
        Dsm().Condition = TWCC_SUCCESS;
        return TWRC_CANCEL;
    }
    const TSaneDeviceInfo& d = m.Devices[static_cast<size_t>(picked)];
    FillIdentity(*id, d);
    StoreDefault(d.Name);
    return Ok();
}

TW_UINT16 ManagerEntry(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    TManager& m = Dsm();
    if (dat == DAT_STATUS) {
        if (msg != MSG_GET || !data)
            return Fail(TWCC_BADPROTOCOL);
        auto* st = static_cast<TW_STATUS*>(data);
        st->ConditionCode = m.Condition;
        st->Reserved = 0;
        m.Condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (m.Busy)
        return Fail(TWCC_SEQERROR);
    if (dat == DAT_PARENT) {
        if (msg == MSG_OPENDSM) {
            if (m.State != 2)
                return Fail(TWCC_SEQERROR);
            m.Parent = data ? *static_cast<QWidget**>(data) : nullptr;
            m.State = 3;
            return Ok();
        }
        if (msg == MSG_CLOSEDSM) {
            if (m.State != 3 || m.Source)
                return Fail(TWCC_SEQERROR);
            m.State = 2;
            m.Parent = nullptr;
            return Ok();
        }
        return Fail(TWCC_BADPROTOCOL);
    }
    if (dat != DAT_IDENTITY)
        return Fail(TWCC_BADPROTOCOL);
    if (m.State < 3)
        return Fail(TWCC_SEQERROR);
    auto* id = static_cast<TW_IDENTITY*>(data);
    if (!id)
        return Fail(TWCC_BADVALUE);
    switch (msg) {
    case MSG_GETDEFAULT: {
        if (!RefreshDevices())
            return Fail(TWCC_CHECKDEVICEONLINE);
        const int i = DefaultIndex();
        if (i < 0)
            return Fail(TWCC_NODS);
        FillIdentity(*id, m.Devices[static_cast<size_t>(i)]);
        return Ok();
    }
    case MSG_GETFIRST:
        if (!RefreshDevices())
            return Fail(TWCC_CHECKDEVICEONLINE);
        m.EnumPos = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (m.EnumPos >= m.Devices.size()) {
            m.Condition = TWCC_SUCCESS;
            return TWRC_ENDOFLIST;
        }
        FillIdentity(*id, m.Devices[m.EnumPos++]);
        return Ok();
    case MSG_USERSELECT:
        return UserSelect(id);
    case MSG_OPENDS:
        return OpenSource(id);
    case MSG_CLOSEDS:
        return CloseSource(id);
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

} // namespace

DSM_EXPORT TW_UINT16 DSM_Entry(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                               TW_UINT16 MSG, TW_MEMREF pData)
{
    TManager& m = Dsm();
    for (auto it = m.Closed.begin(); it != m.Closed.end();)
        it = (*it)->Depth == 0 ? m.Closed.erase(it) : it + 1;
    if (!pOrigin)
        return Fail(TWCC_BADPROTOCOL);
    if (!pDest) {
        if (DG != DG_CONTROL)
            return Fail(TWCC_BADPROTOCOL);
        const TW_UINT16 rc = ManagerEntry(DAT, MSG, pData);
        if (DAT == DAT_PARENT && MSG == MSG_OPENDSM && rc == TWRC_SUCCESS) {
            // The application's identity gets its Id from the manager.
            pOrigin->Id = 1;
            m.App = *pOrigin;
        }
        return rc;
    }
    if (!m.Source || pDest->Id != m.Source->Identity.Id) {
        // The status of an unknown source is the manager's own: it tells why.
        if (DG == DG_CONTROL && DAT == DAT_STATUS)
            return ManagerEntry(DAT, MSG, pData);
        return Fail(TWCC_BADDEST);
    }
    return m.Source->Entry(DG, DAT, MSG, pData);
}

// Milliseconds without an answer from a device before the user may abandon it.
DSM_EXPORT void CorvantaDsm_SetWatchdogMs(int ms) { SetWatchdogMs(ms); }

// Extra SANE options (name, value) applied after the dialog's own settings for every
// page read from sources opened from now on; a null name clears them. For diagnosing
// a device from outside the dialog.
DSM_EXPORT void CorvantaDsm_SetOption(const char* name, const char* value)
{
    TExtraOptions& extra = Dsm().Extra;
    if (!name) {
        extra.clear();
        return;
    }
    extra.emplace_back(name, value ? value : "");
}
