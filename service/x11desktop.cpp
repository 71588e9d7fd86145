#include "x11desktop.h"

#include "displaycheck.h"
#include "glintor.h"
#include "glintorsettings.h"
#include "globalkeyhandler.h"
#include "locatebus.h"
#include "locateinterface.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDebug>
#include <QSettings>

#include <mutex>
#include <thread>

// The key filter, set while the X11 desktop's triggers run.
GlobalKeyHandler *g_keyHandler = nullptr;

namespace {

// The detached hotkey thread outlives the desktop; it hands anything over only while the desktop
// exists, and the desktop closes this gate before it goes.
std::mutex g_gateMutex;
X11Desktop *g_openDesktop = nullptr;

// Runs fn on the main thread with the desktop, if it still exists.
template<typename Fn>
void onMainThread(Fn fn)
{
    std::lock_guard<std::mutex> lock(g_gateMutex);
    if (!g_openDesktop)
        return;
    X11Desktop *desktop = g_openDesktop;
    QMetaObject::invokeMethod(desktop, [desktop, fn] { fn(desktop); }, Qt::QueuedConnection);
}

// The triggers the hotkey thread serves, read from the settings at start-up. A hotkey the service
// cannot use falls back to the default; an empty one means the user wants none.
HotkeyListener::Settings readTriggerSettings(bool debug)
{
    using namespace GlintorSettings;
    QSettings settings(Organization, Application);
    HotkeyListener::Settings triggers;
    triggers.debug = debug;
    triggers.ctrlTap = settings.value(Key::EnableCtrlTap, Default::EnableCtrlTap).toBool();
    const QVariant stored = settings.value(Key::Hotkey);
    Hotkey::Problem refused = Hotkey::Problem::Accepted;
    triggers.hotkey = Hotkey::fromSetting(stored, &refused);
    if (refused != Hotkey::Problem::Accepted)
        qWarning().noquote() << QStringLiteral("Setting hotkey=%1 is not one combination with Ctrl, Alt or Meta, nor a "
                                               "function key; using %2")
                                    .arg(Hotkey::settingText(stored), QLatin1String(Default::Hotkey));
    return triggers;
}

} // namespace

X11Desktop::X11Desktop(Glintor *overlay_, LocateInterface *bus_, bool debug_)
    : Desktop(overlay_, bus_, debug_)
    , triggerSettings(readTriggerSettings(debug_))
{
}

X11Desktop::~X11Desktop()
{
    std::lock_guard<std::mutex> lock(g_gateMutex);
    g_openDesktop = nullptr;
    if (g_keyHandler == keys.get())
        g_keyHandler = nullptr;
}

void X11Desktop::readInputFromX11(bool on)
{
    if (!triggerSettings.input)
        triggerSettings.input = std::make_shared<HotkeyListener::InputSwitch>();
    triggerSettings.input->set(on);
    if (keys)
        keys->setPolling(on);
}

void X11Desktop::sayWhatIsSeen()
{
    if (DisplayCheck::waylandDesktop() == DisplayCheck::WaylandDesktop::NoLayerShell) {
        qInfo("This Wayland compositor offers no layer-shell: glintor-service runs through XWayland and sees "
              "the pointer and the keys only while they are over X11 windows");
    } else if (DisplayCheck::waylandDesktop() == DisplayCheck::WaylandDesktop::LayerShell) {
        qInfo("Running through XWayland as QT_QPA_PLATFORM chose: glintor-service sees the pointer and the keys "
              "only while they are over X11 windows");
    }
}

bool X11Desktop::start()
{
    sayWhatIsSeen();
    keys = std::make_unique<GlobalKeyHandler>(overlay);
    g_keyHandler = keys.get();
    QCoreApplication::instance()->installEventFilter(keys.get());
    if (triggerSettings.input)
        keys->setPolling(triggerSettings.input->isOn());
    {
        std::lock_guard<std::mutex> lock(g_gateMutex);
        g_openDesktop = this;
    }

    HotkeyListener::Host host;
    host.trigger = [](const QString &what) { onMainThread([what](X11Desktop *desktop) { desktop->playAtPointer(what); }); };
    // Each pointer motion wakes a sleeping shake poll.
    host.pointerMoved = [] {
        std::lock_guard<std::mutex> lock(g_gateMutex);
        if (!g_openDesktop || !g_openDesktop->keys->wakeOnMotion())
            return;
        GlobalKeyHandler *keyHandler = g_openDesktop->keys.get();
        QMetaObject::invokeMethod(keyHandler, [keyHandler] { keyHandler->resumePolling(); }, Qt::QueuedConnection);
    };
    // From now on pointer motion reaches pointerMoved, so the poll may sleep while the pointer rests.
    host.motionEventsSelected = [] { onMainThread([](X11Desktop *desktop) { desktop->keys->enableRestSleep(); }); };
    // A newer service has taken the display's selection and this one's connection is closed.
    host.newerServiceTookOver = [] {
        qInfo("Another glintor-service took over this display. Exiting.");
        onMainThread([](X11Desktop *desktop) { emit desktop->replaced(); });
    };
    // The service takes the display's bus name once it is the display's service, so that the name
    // goes with the selection to the newest service.
    host.becameDisplaysService = [] {
        onMainThread([](X11Desktop *desktop) {
            desktop->bus->registerOn(QDBusConnection::sessionBus(), LocateBus::serviceName(false));
        });
    };
    std::thread([listener = HotkeyListener(triggerSettings, host)]() mutable { listener.run(); }).detach();
    return true;
}

void X11Desktop::stop()
{
    if (keys)
        keys->shutdown();
}

void X11Desktop::findPointer(Found found)
{
    found(QCursor::pos());
}
