#include "hotkeys/DDHotKeyCenter.h"
#include "base/Log.h"
#include "hotkeys/GlobalShortcutsPortal.h"
#include "hotkeys/PortalHotKeyService.h"
#include "hotkeys/X11HotKeyService.h"

#include <QCoreApplication>
#include <QPointer>

#include <QStringList>
#include <stdexcept>

namespace {
// Toolkit modifier bits and the service's bits for them.
constexpr quint64 kCommand = 0x100000, kShift = 0x20000, kOption = 0x80000, kControl = 0x40000;
constexpr quint32 kServiceCommand = 0x100, kServiceShift = 0x200, kServiceOption = 0x800, kServiceControl = 0x1000;

// The process-wide registry: used on the main thread only.
std::vector<std::shared_ptr<_DDHotKey>> &registry()
{
    static std::vector<std::shared_ptr<_DDHotKey>> hotKeys;
    return hotKeys;
}
quint32 g_nextHotKeyID = 1;
HotKeyService *g_service = nullptr;
DDHotKeyCenter::Path g_path = DDHotKeyCenter::Path::XGrab;
// Lives with the application; gone once it has quit.
QPointer<PortalHotKeyService> g_portal;
bool g_portalChosen = false;

void chooseService()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        g_path = DDHotKeyCenter::Path::XGrab;
        g_service = X11HotKeyService::shared();
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (QCoreApplication::instance() && GlobalShortcutsPortal::offered(bus)) {
        g_path = DDHotKeyCenter::Path::Portal;
        g_portal = new PortalHotKeyService(bus, QCoreApplication::instance());
        g_portalChosen = true;
        g_service = g_portal;
    } else {
        g_path = DDHotKeyCenter::Path::CommandOnly;
        g_service = X11HotKeyService::shared();
    }
}
}

quint32 dd_translateModifierFlags(quint64 flags)
{
    quint32 service = 0;
    if (flags & kCommand)
        service |= kServiceCommand;
    if (flags & kShift)
        service |= kServiceShift;
    if (flags & kOption)
        service |= kServiceOption;
    if (flags & kControl)
        service |= kServiceControl;
    return service;
}

QString dd_stringifyModifierFlags(quint64 flags)
{
    QStringList names;
    if (flags & kControl)
        names << QStringLiteral("NSControlKeyMask");
    if (flags & kCommand)
        names << QStringLiteral("NSCommandKeyMask");
    if (flags & kShift)
        names << QStringLiteral("NSShiftKeyMask");
    if (flags & kOption)
        names << QStringLiteral("NSAlternateKeyMask");
    if (names.isEmpty())
        return QStringLiteral("ERROR: No valid flags");
    return QLatin1Char('(') + names.join(QStringLiteral(" | ")) + QLatin1Char(')');
}

QString DDHotKey::description() const
{
    const QString invokes = target() && !action().isEmpty()
                                ? QStringLiteral("[%1 %2]").arg(target()->metaObject()->className(), QString::fromLatin1(action()))
                                : QStringLiteral("(block)");
    return QStringLiteral("<DDHotKey: %1>\n\t(key: %2\n\tflags: %3\n\tinvokes: %4)")
        .arg(quintptr(this), 0, 16)
        .arg(keyCode())
        .arg(dd_stringifyModifierFlags(modifierFlags()), invokes);
}

_DDHotKey::~_DDHotKey()
{
    if (isRegistered())
        unregisterHotKey();
}

bool _DDHotKey::registerHotKey()
{
    HotKeyService *svc = DDHotKeyCenter::service();
    const quint64 handle = svc ? svc->registerHotKey(m_keyCode, dd_translateModifierFlags(m_modifierFlags), kDDHotKeySignature, g_nextHotKeyID) : 0;
    if (!handle)
        return false;
    m_hotKeyRef = handle;
    m_hotKeyID = g_nextHotKeyID++;
    return true;
}

void _DDHotKey::unregisterHotKey()
{
    if (m_hotKeyRef && DDHotKeyCenter::service())
        DDHotKeyCenter::service()->unregisterHotKey(m_hotKeyRef);
    m_hotKeyRef = 0;
}

void _DDHotKey::invokeWithEvent(const HotKeyEvent &event)
{
    if (!m_target || m_action.isEmpty())
        return;
    const QMetaObject *meta = m_target->metaObject();
    // An action may take the event and the object, or nothing.
    const QByteArray withArguments = m_action + "(HotKeyEvent,QVariant)";
    if (meta->indexOfMethod(withArguments.constData()) >= 0)
        QMetaObject::invokeMethod(m_target, m_action.constData(), Q_ARG(HotKeyEvent, event), Q_ARG(QVariant, m_object));
    else if (meta->indexOfMethod((m_action + "()").constData()) >= 0)
        QMetaObject::invokeMethod(m_target, m_action.constData());
}

void dd_hotKeyHandler(quint32 hotKeyID, const HotKeyEvent &event)
{
    const auto matches = DDHotKeyCenter().hotKeysMatchingPredicate([hotKeyID](const _DDHotKey &k) { return k.hotKeyID() == hotKeyID; });
    if (matches.size() > 1)
        Log::f("ERROR!");
    if (matches.empty())
        return;
    HotKeyEvent released = event;
    released.keyCode = matches.front()->keyCode();
    matches.front()->invokeWithEvent(released);
}

void DDHotKeyCenter::setService(HotKeyService *service)
{
    g_portalChosen = false;
    g_service = service;
}

HotKeyService *DDHotKeyCenter::service()
{
    if (!g_service)
        chooseService();
    if (g_portalChosen && !g_portal)
        return nullptr; // quit with the application
    return g_service;
}

DDHotKeyCenter::Path DDHotKeyCenter::path()
{
    service();
    return g_path;
}

quint32 DDHotKeyCenter::nextHotKeyID()
{
    return g_nextHotKeyID;
}

std::vector<std::shared_ptr<_DDHotKey>> DDHotKeyCenter::hotKeysMatchingPredicate(const Predicate &predicate) const
{
    std::vector<std::shared_ptr<_DDHotKey>> found;
    for (const auto &k : registry())
        if (predicate(*k))
            found.push_back(k);
    return found;
}

bool DDHotKeyCenter::hasRegisteredHotKeyWithKeyCode(quint16 keyCode, quint64 modifierFlags) const
{
    return !hotKeysMatchingPredicate([&](const _DDHotKey &k) { return k.keyCode() == keyCode && k.modifierFlags() == modifierFlags; }).empty();
}

bool DDHotKeyCenter::registerHotKeyWithKeyCode(quint32 keyCode, quint64 modifierFlags, QObject *target, const QByteArray &action, const QVariant &object)
{
    const quint16 code = quint16(keyCode);
    if (hasRegisteredHotKeyWithKeyCode(code, modifierFlags))
        return false;
    auto hotKey = std::make_shared<_DDHotKey>();
    hotKey->setTarget(target);
    hotKey->setAction(action);
    hotKey->setObject(object);
    hotKey->setKeyCode(code);
    hotKey->setModifierFlags(modifierFlags);
    if (!hotKey->registerHotKey())
        return false;
    registry().push_back(hotKey);
    return true;
}

void DDHotKeyCenter::unregisterHotKeysMatchingPredicate(const Predicate &predicate)
{
    const auto subset = hotKeysMatchingPredicate(predicate);
    auto &all = registry();
    all.erase(std::remove_if(all.begin(), all.end(), [&](const auto &k) { return predicate(*k); }), all.end());
    for (const auto &k : subset)
        k->unregisterHotKey();
}

void DDHotKeyCenter::unregisterHotKeysWithTarget(QObject *target)
{
    unregisterHotKeysMatchingPredicate([target](const _DDHotKey &k) { return k.target() == target; });
}

void DDHotKeyCenter::unregisterHotKeysWithTarget(QObject *target, const QByteArray &action)
{
    unregisterHotKeysMatchingPredicate([&](const _DDHotKey &k) { return k.target() == target && k.actionString() == action; });
}

void DDHotKeyCenter::unregisterHotKeyWithKeyCode(quint16 keyCode, quint64 modifierFlags)
{
    unregisterHotKeysMatchingPredicate([&](const _DDHotKey &k) { return k.keyCode() == keyCode && k.modifierFlags() == modifierFlags; });
}

void DDHotKeyCenter::unregisterHotKey(DDHotKey *hotKey)
{
    auto *record = dynamic_cast<_DDHotKey *>(hotKey);
    if (!record)
        throw std::invalid_argument("Invalid hotkey");
    unregisterHotKeysMatchingPredicate([record](const _DDHotKey &k) { return &k == record; });
}

std::vector<std::shared_ptr<_DDHotKey>> DDHotKeyCenter::registeredHotKeys() const
{
    return hotKeysMatchingPredicate([](const _DDHotKey &k) { return k.isRegistered(); });
}
