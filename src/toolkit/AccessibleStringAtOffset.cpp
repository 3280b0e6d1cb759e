#include "AccessibleStringAtOffset.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QPointer>
#include <QTimer>

#include <iterator>

namespace {

// Where Qt's bridge keeps the accessible objects on the bus ("<ObjectsPath>/<unique id>"), and the
// name of its connection to the bus.
const QString ObjectsPath = QStringLiteral("/org/a11y/atspi/accessible");
const QString BusConnection = QStringLiteral("a11y");

// AT-SPI's granularities, in the order of its enumeration.
constexpr QAccessible::TextBoundaryType Granularities[] = {
    QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
    QAccessible::LineBoundary, QAccessible::ParagraphBoundary};

class TStringAtOffset : public QDBusVirtualObject {
public:
  TStringAtOffset(QDBusVirtualObject* Bridge, QObject* Parent) : QDBusVirtualObject(Parent), FBridge(Bridge) {}

  QString introspect(const QString& Path) const override { return FBridge ? FBridge->introspect(Path) : QString(); }

  bool handleMessage(const QDBusMessage& Message, const QDBusConnection& Connection) override {
    if (FBridge && FBridge->handleMessage(Message, Connection)) return true;
    if (Message.interface() != QLatin1String("org.a11y.atspi.Text") ||
        Message.member() != QLatin1String("GetStringAtOffset") || Message.arguments().size() != 2)
      return false;
    const QString Path = Message.path();
    const QAccessible::Id Id = Path.mid(ObjectsPath.size() + 1).toUInt();
    QAccessibleInterface* Object = Id != 0 ? QAccessible::accessibleInterface(Id) : nullptr;
    QAccessibleTextInterface* Text = Object && Object->isValid() ? Object->textInterface() : nullptr;
    const uint Granularity = Message.arguments().at(1).toUInt();
    if (!Text || Granularity >= std::size(Granularities)) return false;
    int Start = -1;
    int End = -1;
    const QString Found = Text->textAtOffset(Message.arguments().at(0).toInt(), Granularities[Granularity], &Start, &End);
    return Connection.send(Message.createReply({Found, Start, End}));
  }

private:
  QPointer<QDBusVirtualObject> FBridge;
};

// Stands in front of the bridge once it is on the bus. The bridge goes on the bus only after it has
// turned accessibility on, so this runs from the event loop.
void StandInFront() {
  QDBusConnection Bus(BusConnection);
  if (!Bus.isConnected()) return;
  auto* Bridge = qobject_cast<QDBusVirtualObject*>(Bus.objectRegisteredAt(ObjectsPath));
  if (!Bridge || dynamic_cast<TStringAtOffset*>(Bridge)) return;
  auto* Front = new TStringAtOffset(Bridge, Bridge);
  Bus.unregisterObject(ObjectsPath);
  if (!Bus.registerVirtualObject(ObjectsPath, Front, QDBusConnection::SubPath)) {
    delete Front;
    Bus.registerVirtualObject(ObjectsPath, Bridge, QDBusConnection::SubPath);
  }
}

class TActivation : public QAccessible::ActivationObserver {
public:
  void accessibilityActiveChanged(bool Active) override {
    if (Active) QTimer::singleShot(0, &StandInFront);
  }
};

}  // namespace

void AnswerStringAtOffset() {
  // Kept for the program's life: Qt's accessibility may report to it until the application ends.
  static TActivation Activation;
  static const bool Observed = (QAccessible::installActivationObserver(&Activation), true);
  (void)Observed;
  if (QAccessible::isActive()) QTimer::singleShot(0, &StandInFront);
}
