// The retrieval of one article: the input is everything the server sends after ARTICLE.

#include "FuzzSupport.h"
#include "engine/ArticleRetrieval.h"

using namespace qm;
using namespace qm::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchDir scratch;
    const std::string& root = scratch.Fresh();
    EngineRig rig(root, "");
    ScriptedPeer server(AsText(data, size));
    rig.Connect(server);
    ArticleRetriever retriever(rig.engine);
    rig.InDataDirectory([&] { retriever.RetrieveArticle(1); });
    rig.engine.session.Close();
    FUZZ_CHECK(server.Received() == "ARTICLE 1\r\n");
    rig.CheckFiles(1);
    return 0;
}
