#include <gtest/gtest.h>

#include "bluetooth/bluez/AttErrorReplies.h"
#include "bluetooth/bluez/BusErrors.h"

namespace orbilatch::bluetooth::bluez {
namespace {

void expectError(AttError result, const char* name, const char* message) {
    const WriteReply reply = writeReplyFor(result);
    EXPECT_FALSE(reply.success) << static_cast<int>(result);
    EXPECT_EQ(reply.errorName, name);
    EXPECT_EQ(reply.errorMessage, message);
}

TEST(WriteReplies, AnswerSuccessWithAnEmptyReturn) { EXPECT_TRUE(writeReplyFor(AttError::success).success); }

TEST(WriteReplies, UseTheBluezErrorThatBluetoothdTurnsIntoEachAttCode) {
    expectError(AttError::requestNotSupported, "org.bluez.Error.NotSupported", "Request not supported");
    expectError(AttError::invalidAttributeValueLength, "org.bluez.Error.InvalidValueLength",
                "Invalid attribute value length");
    expectError(AttError::unlikelyError, "org.bluez.Error.Failed", "0x0e");
    expectError(AttError::insufficientResources, "org.bluez.Error.Failed", "0x11");
}

TEST(BusErrors, TellABluetoothdThatIsGoneFromOneThatRefused) {
    for (const char* gone : {"org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner",
                             "org.freedesktop.DBus.Error.NoReply", "org.freedesktop.DBus.Error.Disconnected",
                             "org.freedesktop.DBus.Error.Spawn.ChildExited"})
        EXPECT_TRUE(meansBluetoothdIsGone(gone)) << gone;
    for (const char* refusal : {"org.bluez.Error.Failed", "org.bluez.Error.NotPermitted",
                                "org.freedesktop.DBus.Error.AccessDenied", "org.freedesktop.DBus.Error.UnknownMethod"})
        EXPECT_FALSE(meansBluetoothdIsGone(refusal)) << refusal;
}

}  // namespace
}  // namespace orbilatch::bluetooth::bluez
