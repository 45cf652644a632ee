// The control port's request plumbing: targets, parameters and routes, without a socket.
#include "control/control_http.h"

#include <gtest/gtest.h>

using namespace standin;

TEST(ControlTargets, PathAndParametersAreDecodedTheirOwnWay)
{
    std::string path;
    std::multimap<std::string, std::string> params;
    parseControlTarget("/schema/relearn?key=GET%20api.test%2Fv2%2Fusers%2F%3Aid&flag&a+b=c+d%2B1", path, params);
    EXPECT_EQ(path, "/schema/relearn");
    EXPECT_EQ(params.find("key")->second, "GET api.test/v2/users/:id");
    EXPECT_EQ(params.find("flag")->second, "");
    EXPECT_EQ(params.find("a b")->second, "c d+1"); // "+" is a space in a query, "%2B" a plus

    params.clear();
    parseControlTarget("/projects/a%2Bb+c/activate", path, params);
    EXPECT_EQ(path, "/projects/a+b+c/activate"); // a "+" in a path stays a "+"
    EXPECT_TRUE(params.empty());

    EXPECT_EQ(percentDecode("100%", false), "100%");
    EXPECT_EQ(percentDecode("%zz%4", false), "%zz%4");
    EXPECT_EQ(percentDecode("%41%62", false), "Ab");
}

TEST(ControlTargets, RoutesMatchWholePathsAndHandOutTheirGroups)
{
    ControlRouter router;
    std::string seen;
    router.onPost("/projects/:id/activate", [&seen](const ControlRequest &req, ControlResponse &) { seen = req.matches[1]; });
    router.onGet("/routes", [](const ControlRequest &, ControlResponse &res) { res.setContent("[]", "application/json"); });
    router.onGet("/boom", [](const ControlRequest &, ControlResponse &) { throw std::runtime_error("kaput"); });
    router.setExceptionHandler([](const ControlRequest &, ControlResponse &res, std::exception_ptr) { res.status = 599; });

    ControlRequest request;
    request.method = "POST";
    request.path = "/projects/p-1/activate";
    const ControlRouter::Route *route = router.find(request);
    ASSERT_NE(route, nullptr);
    ControlResponse response;
    router.run(*route, request, response);
    EXPECT_EQ(seen, "p-1");

    request.path = "/projects/p-1/activate/more";
    EXPECT_EQ(router.find(request), nullptr);
    for (const char *path : {"/projects//activate", "/projects/activate", "projects/p-1/activate", "//projects/p-1/activate", ""}) {
        request.path = path;
        EXPECT_EQ(router.find(request), nullptr) << path;
    }
    request.method = "GET";
    for (const char *path : {"/routes/", "/routes/x", "/Routes", "/route"}) {
        request.path = path;
        EXPECT_EQ(router.find(request), nullptr) << path;
    }
    request.path = "/routes";
    EXPECT_NE(router.find(request), nullptr);
    // A path of many thousand segments is matched in one pass, without recursion.
    request.method = "POST";
    request.path = "/projects/" + std::string(60 * 1024, 'a') + "/activate";
    route = router.find(request);
    ASSERT_NE(route, nullptr);
    EXPECT_EQ(request.matches[1].size(), 60u * 1024);
    request.path.clear();
    for (int i = 0; i < 20000; ++i)
        request.path += "/x";
    EXPECT_EQ(router.find(request), nullptr);
    request.method = "GET";
    request.path = "/projects/p-1/activate";
    EXPECT_EQ(router.find(request), nullptr); // the method counts too

    request.path = "/boom";
    route = router.find(request);
    ASSERT_NE(route, nullptr);
    router.run(*route, request, response);
    EXPECT_EQ(response.status, 599);
}
