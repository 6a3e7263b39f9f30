// The command engine's senders against a fake port and a fake sleeper: poll
// limits, resends, echoes, high-speed pieces, the link guard, replies split
// over reads, the bounded waits and the one-reader rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeSerial.h"
#include "device/CommandEngine.h"
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "platform/SerialBackend.h"
#include "support/UtilityManager.h"

namespace {

// Virtual time that also lets scripted chunks reach the port, one per poll:
// each sleep delivers the next chunk (an empty chunk: nothing came by then).
class DripClock final : public platform::Clock {
public:
    explicit DripClock(testsupport::FakeSerialBackend& port) : port_(port) {}
    void Drip(std::vector<std::string> chunks) {
        std::lock_guard lock(mutex_);
        chunks_.assign(chunks.begin(), chunks.end());
    }
    std::uint64_t NowMs() override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void SleepMs(std::uint32_t ms) override {
        std::string chunk;
        {
            std::lock_guard lock(mutex_);
            now_ += ms;
            ++sleeps_;
            if (!chunks_.empty()) {
                chunk = chunks_.front();
                chunks_.pop_front();
            }
        }
        port_.PushInput(chunk);
        std::this_thread::yield();
    }
    unsigned Sleeps() {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

private:
    testsupport::FakeSerialBackend& port_;
    std::mutex mutex_;
    std::deque<std::string> chunks_;
    std::uint64_t now_ = 0;
    unsigned sleeps_ = 0;
};

// Answers fixed replies to fixed sentences; anything else goes unanswered.
testsupport::FakeSerialBackend::Responder Replies(std::map<std::string, std::string> table) {
    return [table = std::move(table)](const std::string& written) {
        auto it = table.find(written);
        return it == table.end() ? std::string() : it->second;
    };
}

bool AllZero(const char* from, std::size_t count) {
    return std::all_of(from, from + count, [](char c) { return c == '\0'; });
}

using Sentences = std::vector<std::string>;

class EngineSend : public ::testing::Test {
protected:
    void SetUp() override {
        portLinked = 0;
        theUtility.highSpeedLink = 0;
        theUtility.sendPmtkFirst = 0;
    }
    void TearDown() override {
        portLinked = 0;
        theUtility.highSpeedLink = 0;
    }
    // Opens the port and marks the link up, as Connect does.
    void Connect() {
        platform::ScopedSerialBackend use(fake);
        link.linkPortName = "COM3";
        ASSERT_EQ(link.OpenPort(), 1);
        portLinked = 1;
        fake.ClearRecord();
    }
    static std::string Text(const char* reply) { return reply ? std::string(reply) : "(null)"; }

    testsupport::FakeSerialBackend fake;
    DripClock clock{fake};
    platform::ScopedClock scopedClock{clock};
    SerialLink link;
    CommandEngine engine{&link};
};

}  // namespace

TEST_F(EngineSend, PollLimitsWithASilentDevice) {
    Connect();
    EXPECT_EQ(engine.SendPmtk182(1, 3, 50), nullptr);
    EXPECT_EQ(clock.Sleeps(), 10u);
    EXPECT_EQ(clock.NowMs(), 380u);
    EXPECT_EQ(theUtility.sendPmtkFirst, 1);
    EXPECT_EQ(engine.SendPmtk182(6, 1, 0), nullptr);  // the erase waits longest
    EXPECT_EQ(clock.Sleeps(), 1010u);
    EXPECT_EQ(engine.SendPmtk182(7, 0, 0), engine.receiveBuffer);  // one poll, whatever came
    EXPECT_EQ(clock.Sleeps(), 1011u);
    EXPECT_EQ(engine.SendOrvikCommand(3), nullptr);
    EXPECT_EQ(clock.Sleeps(), 1071u);
    for (int code : {810, 861, 865}) {
        EXPECT_EQ(engine.SendQvrQuery(code), nullptr);
    }
    EXPECT_EQ(clock.Sleeps(), 1251u);
    EXPECT_EQ(engine.SendQvrQuery(837), nullptr);  // sent, not awaited
    EXPECT_EQ(engine.SendQvrQuery(852), nullptr);  // no such query: nothing sent
    EXPECT_EQ(clock.Sleeps(), 1251u);
    EXPECT_EQ(fake.Writes(), (Sentences{"$PMTK182,1,3,50*12\r\n", "$PMTK182,6,1*3E\r\n", "$PMTK182,7,0,0*22\r\n",
                                        "$ORVIK731,3*63\r\n", "$PQVR810*3C\r\n", "$PQVR829*36\r\n",
                                        "$PQVR832*3C\r\n", "$PQVR837*39\r\n"}));
}

TEST_F(EngineSend, RepliesWithTheExpectedTag) {
    fake.SetResponder(Replies({{"$PMTK182,1,3,50*12\r\n", "$PMTK001,182,1,3*26\r\n"},
                               {"$PMTK400*36\r\n", "$PMTK001,400,3*34\r\n"},
                               {"$PMTK182,2,8*33\r\n", "$PMTK001,182,2,3*25\r\n"},
                               {"$PMTK182,2,3*38\r\n", "$PMTK182,3,3,50*10\r\n$PMTK001,182,2,3*25\r\n"}}));
    Connect();
    const char* reply = engine.SendPmtk182(1, 3, 50);
    EXPECT_EQ(reply, engine.receiveBuffer);
    EXPECT_EQ(Text(reply), "$PMTK001,182,1,3*26\r\n");
    EXPECT_EQ(clock.Sleeps(), 1u);
    EXPECT_EQ(Text(engine.SendPmtk182(400, 0, 0)), "$PMTK001,400,3*34\r\n");
    // A query waits for the parameter reply, not for the acknowledgement.
    EXPECT_EQ(engine.SendPmtk182(2, 8, 0), nullptr);
    EXPECT_EQ(engine.ParsePmtk182Value(engine.SendPmtk182(2, 3, 0), false), 50u);
}

TEST_F(EngineSend, EchoIsNoAnswer) {
    fake.SetResponder([](const std::string& written) {
        return written == "$PMTK182,2,3*38\r\n" ? written + "$PMTK182,3,3,50*10\r\n" : written;
    });
    Connect();
    // The echo of a query begins with the very tag the query waits for.
    EXPECT_EQ(engine.SendPmtk182(2, 8, 0), nullptr);
    EXPECT_EQ(Text(engine.SendPmtk182(7, 0x1F0000, 16)), "NONE");
    // An echo followed by the reply in the same read gives the reply.
    EXPECT_EQ(Text(engine.SendPmtk182(2, 3, 0)), "$PMTK182,3,3,50*10\r\n");
    // An echo split over two reads, then the reply.
    fake.SetResponder(nullptr);
    clock.Drip({"$PMTK182,1,3,50*", "12\r\n", "$PMTK001,182,1,3*26\r\n"});
    EXPECT_EQ(Text(engine.SendPmtk182(1, 3, 50)), "$PMTK001,182,1,3*26\r\n");
}

TEST_F(EngineSend, RetryResends) {
    int sends = 0;
    int answerAt = 0;
    std::string answer;
    fake.SetResponder([&](const std::string&) { return ++sends >= answerAt ? answer : std::string(); });
    Connect();
    answerAt = 1000;
    EXPECT_EQ(engine.SendPmtk182Retry(1, 3, 50), CommandEngine::kNotConnected);
    EXPECT_EQ(fake.Writes().size(), 51u);  // the first send and 50 resends

    fake.ClearRecord();
    sends = 0;
    answerAt = 3;
    answer = "$PMTK001,182,1,3*26\r\n";
    EXPECT_EQ(Text(engine.SendPmtk182Retry(1, 3, 50)), answer);
    EXPECT_EQ(fake.Writes().size(), 3u);

    // A query goes out without its second argument.
    fake.ClearRecord();
    answerAt = 0;
    answer = "$PMTK182,3,8,00001000*1F\r\n";
    EXPECT_EQ(engine.ParsePmtk182Value(engine.SendPmtk182Retry(2, 8, 99), true), 0x1000u);
    EXPECT_EQ(fake.Writes(), Sentences{"$PMTK182,2,8*33\r\n"});
}

TEST_F(EngineSend, RetryOfMemoryReadWantsData) {
    int sends = 0;
    const std::string data = "$PMTK182,8,001F0000,FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF*5A\r\n";
    fake.SetResponder([&](const std::string&) { return ++sends < 3 ? std::string("$PMTK001,182,7,3*20\r\n") : data; });
    Connect();
    EXPECT_EQ(Text(engine.SendPmtk182Retry(7, 0x1F0000, 16)), data);
    EXPECT_EQ(fake.Writes().size(), 3u);
}

TEST_F(EngineSend, EraseWaitIsBounded) {
    int sends = 0;
    int answerAt = 1000;
    fake.SetResponder([&](const std::string&) {
        return ++sends == answerAt ? std::string("$PMTK001,182,6,3*21\r\n") : std::string();
    });
    Connect();
    EXPECT_EQ(engine.SendPmtk182Retry(6, 1, 0), CommandEngine::kNotConnected);
    EXPECT_EQ(fake.Writes().size(), static_cast<std::size_t>(CommandEngine::kErasePasses));
    // About 38 s per pass and a few passes: minutes at most, never hours.
    EXPECT_EQ(clock.NowMs(), 38000u * CommandEngine::kErasePasses);

    fake.ClearRecord();
    sends = 0;
    answerAt = 2;
    EXPECT_EQ(Text(engine.SendPmtk182Retry(6, 1, 0)), "$PMTK001,182,6,3*21\r\n");
    EXPECT_EQ(fake.Writes().size(), 2u);
}

TEST_F(EngineSend, HighSpeedSendsSixteenBytePieces) {
    Connect();
    engine.SendPmtk182(7, 0x1F0000F0, 0x10000000);
    EXPECT_EQ(fake.Writes(), Sentences{"$PMTK182,7,1F0000F0,10000000*22\r\n"});

    theUtility.highSpeedLink = 1;
    fake.ClearRecord();
    const unsigned before = clock.Sleeps();
    const std::string s32 = "$PMTK182,7,1F0000F0,1000000*12\r\n";
    engine.SendPmtk182(7, 0x1F0000F0, 0x1000000);
    EXPECT_EQ(fake.Writes(), (Sentences{s32.substr(0, 16), s32.substr(16)}));
    EXPECT_EQ(clock.Sleeps() - before, 3u);  // two pauses, one poll

    fake.ClearRecord();
    const std::string s33 = "$PMTK182,7,1F0000F0,10000000*22\r\n";
    engine.SendPmtk182(7, 0x1F0000F0, 0x10000000);
    EXPECT_EQ(fake.Writes(), (Sentences{s33.substr(0, 16), s33.substr(16, 16), "\n"}));

    // Maker sentences always go out whole.
    fake.ClearRecord();
    engine.SendOrvikCommand(6);
    engine.SendQvrQuery(837);
    EXPECT_EQ(fake.Writes(), (Sentences{"$ORVIK731,6*66\r\n", "$PQVR837*39\r\n"}));
}

TEST_F(EngineSend, NothingIsWrittenWhileTheLinkIsDown) {
    Connect();
    portLinked = 0;
    EXPECT_EQ(engine.SendPmtk182(2, 8, 0), CommandEngine::kNotConnected);
    EXPECT_FALSE(link.IsPortOpen());  // purged and closed
    EXPECT_EQ(fake.Events().front(), "purge");
    EXPECT_EQ(fake.Events().back(), "close");
    EXPECT_EQ(engine.SendPmtk182Retry(6, 1, 0), CommandEngine::kNotConnected);
    EXPECT_EQ(engine.SendPmtk182Retry(2, 8, 0), CommandEngine::kNotConnected);
    EXPECT_EQ(engine.SendOrvikCommand(2), CommandEngine::kNotConnected);
    EXPECT_EQ(engine.SendQvrQuery(810), CommandEngine::kNotConnected);
    EXPECT_EQ(engine.SendQvrQuery(837), CommandEngine::kNotConnected);
    EXPECT_TRUE(fake.Writes().empty());
    EXPECT_EQ(clock.Sleeps(), 0u);
    // An engine that was given no port at all.
    portLinked = 1;
    CommandEngine alone;
    EXPECT_EQ(alone.SendOrvikCommand(1), CommandEngine::kNotConnected);
}

// The acknowledgement of the code counts wherever it stands in the read: a
// late acknowledgement of another code in front of it must not hide it, or
// the device's answer is lost with the next read.
TEST_F(EngineSend, AcknowledgementOfTheCodeAnywhereInTheRead) {
    fake.SetResponder(Replies({{"$ORVIK731,3*63\r\n", "$GPRMC,1*00\r\n$ORVIK001,1,1*78\r\n$ORVIK001,3,123*7B\r\n"},
                               {"$ORVIK731,7*67\r\n", "$ORVIK001,1,1*78\r\n"},
                               {"$ORVIK731,1*61\r\n", "$ORVIK001,12,1*4A\r\n"},
                               {"$ORVIK731,12*53\r\n", "$ORVIK001,12,1*4A\r\n"}}));
    Connect();
    const char* ack = engine.SendOrvikCommand(3);
    ASSERT_NE(ack, nullptr);
    EXPECT_TRUE(CommandEngine::IsSentenceComplete(ack, 256));
    EXPECT_STREQ(engine.ExtractOrvik001Field(ack, 12, 3), "123");
    // The acknowledgement of another code does not count.
    EXPECT_EQ(engine.SendOrvikCommand(7), nullptr);
    EXPECT_EQ(engine.SendOrvikCommand(1), nullptr);
    EXPECT_NE(engine.SendOrvikCommand(12), nullptr);
}

TEST_F(EngineSend, IdentificationReplies) {
    fake.SetResponder(Replies({{"$PQVR810*3C\r\n", "$PQVR852,L4400C*19\r\n"},
                               {"$PQVR829*36\r\n", "$PQVR861,305*20\r\n"},
                               {"$PQVR832*3C\r\n", "$PQVR865,04*16\r\n"}}));
    Connect();
    EXPECT_EQ(Text(engine.SendQvrQuery(810)), "$PQVR852,L4400C*19\r\n");
    EXPECT_STREQ(engine.ExtractQvrField(engine.SendQvrQuery(861), 9, 3), "305");
    EXPECT_STREQ(engine.ExtractQvrField(engine.SendQvrQuery(865), 9, 3), "04*");
}

TEST_F(EngineSend, SplitRepliesAreJoined) {
    Connect();
    clock.Drip({"$PMTK182,3,8,000", "1A000*6E\r\n"});
    const char* address = engine.SendPmtk182(2, 8, 0);
    ASSERT_EQ(address, engine.receiveBuffer);
    EXPECT_TRUE(CommandEngine::IsSentenceComplete(address, 256));
    EXPECT_EQ(engine.ParsePmtk182Value(address, true), 0x1A000u);
    EXPECT_EQ(clock.Sleeps(), 2u);

    clock.Drip({"$PMT", "", "K001,182,1,3*26\r\n"});
    EXPECT_EQ(Text(engine.SendPmtk182(1, 3, 50)), "$PMTK001,182,1,3*26\r\n");

    clock.Drip({"$GPGSA,1*00\r\n$ORV", "IK001,3,12", "3*7B\r\n"});
    EXPECT_EQ(Text(engine.SendOrvikCommand(3)), "$ORVIK001,3,123*7B\r\n");

    clock.Drip({"$PQVR852,TK", "515*38\r\n"});
    EXPECT_EQ(Text(engine.SendQvrQuery(810)), "$PQVR852,TK515*38\r\n");

    // A reply that begins in time but never ends still ends the wait.
    clock.Drip({"$PMTK001,182,1"});
    const unsigned before = clock.Sleeps();
    EXPECT_EQ(Text(engine.SendPmtk182(1, 3, 50)), "$PMTK001,182,1");
    EXPECT_EQ(clock.Sleeps() - before, 10u);
}

TEST_F(EngineSend, NoStaleBytesBehindAReply) {
    const std::string noise = "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r\n$GPGS";
    Connect();
    clock.Drip({noise, "$GPRMC,1*0", "$PMTK001,182,1,3*26\r\n"});
    const char* reply = engine.SendPmtk182(1, 3, 50);
    ASSERT_EQ(reply, engine.receiveBuffer);
    EXPECT_STREQ(reply, "$PMTK001,182,1,3*26\r\n");
    EXPECT_TRUE(AllZero(reply + 21, 4096));

    clock.Drip({noise, "$ORVIK001,3,123*7B\r\n"});
    const char* ack = engine.SendOrvikCommand(3);
    ASSERT_NE(ack, nullptr);
    EXPECT_STREQ(ack, "$ORVIK001,3,123*7B\r\n");
    EXPECT_TRUE(AllZero(ack + 20, 4096));
}

TEST_F(EngineSend, LastSector) {
    std::string data = "$PMTK182,8,001F0000,FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF*5A\r\n";
    fake.SetResponder([&data](const std::string&) { return data; });
    Connect();
    bool answered = false;
    EXPECT_FALSE(engine.IsLastSectorUsed(&answered));
    EXPECT_TRUE(answered);
    EXPECT_EQ(fake.Writes(), Sentences{"$PMTK182,7,1F0000,10*54\r\n"});

    data = "$PMTK182,8,001F0000,FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00*5A\r\n";
    EXPECT_TRUE(engine.IsLastSectorUsed(&answered));
    EXPECT_TRUE(answered);

    // Never complete, or too short: a bounded number of reads, then "used".
    for (const char* bad : {"$PMTK182,8,001F0000,FFFFFFFF", "$PMTK182,8,001F0000,FF*5A\r\n"}) {
        data = bad;
        fake.ClearRecord();
        EXPECT_TRUE(engine.IsLastSectorUsed(&answered));
        EXPECT_FALSE(answered);
        EXPECT_EQ(fake.Writes().size(), static_cast<std::size_t>(CommandEngine::kLastSectorTries));
    }
    // A silent logger: the resends of one read, then it stops.
    fake.SetResponder(nullptr);
    fake.ClearRecord();
    EXPECT_TRUE(engine.IsLastSectorUsed(&answered));
    EXPECT_FALSE(answered);
    EXPECT_EQ(fake.Writes().size(), 51u);
}

TEST_F(EngineSend, BufferIsOwnedForTheEngineLifetime) {
    char* const buffer = engine.receiveBuffer;
    std::memcpy(buffer, "old reply", 9);
    engine.ResetReceiveBuffer();
    EXPECT_EQ(engine.receiveBuffer, buffer);
    EXPECT_TRUE(AllZero(buffer, CommandEngine::kReceiveBufferSize + 1));
    fake.SetResponder(Replies({{"$PMTK400*36\r\n", "$PMTK001,400,3*34\r\n"}}));
    Connect();
    EXPECT_EQ(engine.SendPmtk182(400, 0, 0), buffer);
}

TEST_F(EngineSend, SenderWaitsForAReaderHoldingTheLock) {
    Connect();
    auto lock = engine.LockReceive();
    std::atomic<bool> done{false};
    std::thread sender([&] {
        engine.SendOrvikCommand(2);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done.load());
    EXPECT_TRUE(fake.Writes().empty());
    lock.unlock();
    sender.join();
    EXPECT_EQ(fake.Writes(), Sentences{"$ORVIK731,2*62\r\n"});
}

TEST_F(EngineSend, AnotherReaderNeverTakesASendersReply) {
    fake.SetResponder(Replies({{"$PMTK182,1,3,50*12\r\n", "$PMTK001,182,1,3*26\r\n"}}));
    Connect();
    std::atomic<bool> stop{false};
    std::atomic<std::uint32_t> stolen{0};
    std::thread reader([&] {
        char chunk[4096];
        while (!stop.load()) {
            auto lock = engine.LockReceive();
            std::uint32_t got = 0;
            link.ReadPort(chunk, sizeof chunk, &got);
            stolen += got;
            lock.unlock();
            std::this_thread::yield();
        }
    });
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        answered += engine.SendPmtk182(1, 3, 50) == engine.receiveBuffer ? 1 : 0;
    }
    stop = true;
    reader.join();
    EXPECT_EQ(answered, 200);
    EXPECT_EQ(stolen.load(), 0u);
}
