#include "installed/Top3Requests.h"

#include <gtest/gtest.h>

TEST(Top3Requests, ALaterRequestCancelsTheEarlierAndOnlyItsAnswerCounts)
{
    TTop3Requests requests;
    EXPECT_FALSE(requests.Pending());
    const TTop3Requests::Ticket slow = requests.Start();
    const TTop3Requests::Ticket quick = requests.Start();
    EXPECT_NE(slow.Id, quick.Id);
    EXPECT_TRUE(slow.Cancel->load()) << "the superseded request's worker is told to stop";
    EXPECT_FALSE(quick.Cancel->load());
    EXPECT_EQ(requests.Current(), quick.Id);

    // Answers in either order: only the awaited one is taken, and only once.
    EXPECT_TRUE(requests.Finish(quick.Id));
    EXPECT_FALSE(requests.Pending());
    EXPECT_FALSE(requests.Finish(quick.Id));
    EXPECT_FALSE(requests.Finish(slow.Id));
    EXPECT_FALSE(quick.Cancel->load()) << "an answered request is not cancelled";
    EXPECT_EQ(requests.Started(), 2);
    EXPECT_EQ(requests.Cancelled(), 1);
    EXPECT_EQ(requests.Finished(), 3);
}

TEST(Top3RequestsCancel, NothingAwaitedTakesNoAnswer)
{
    struct Case
    {
        const char *what;
        void (*end)(TTop3Requests &);
    };
    const Case cases[] = {
        {"cancelled", [](TTop3Requests &r) { r.Cancel(); }},
        {"superseded", [](TTop3Requests &r) { r.Start(); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TTop3Requests requests;
        const TTop3Requests::Ticket ticket = requests.Start();
        c.end(requests);
        EXPECT_TRUE(ticket.Cancel->load());
        EXPECT_FALSE(requests.Finish(ticket.Id));
        EXPECT_FALSE(requests.Finish(0));
        EXPECT_FALSE(requests.Finish(ticket.Id + 100)) << "an id never handed out";
    }
}

TEST(Top3Requests, GoingAwayCancelsTheAwaitedRequest)
{
    TTop3Requests::CancelFlag flag;
    {
        TTop3Requests requests;
        flag = requests.Start().Cancel;
        EXPECT_EQ(requests.CurrentCancelFlag(), flag);
    }
    EXPECT_TRUE(flag->load());
}
