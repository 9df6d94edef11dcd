// Late binding needs the registered library; vtable calls do not. Its own process, since the
// loaded type information is kept for the life of the module.
#include "ComTestSupport.h"

#include <Doubles.h>

using comtest::ComPtr;
using comtest::Server;

TEST(LateBinding, WorksOnceTheLibraryIsRegisteredWithoutRecreatingTheObject) {
    doubles::resetAll();
    Server server;
    ASSERT_TRUE(server.loaded());
    ASSERT_EQ(S_OK, server.registerServer());
    ASSERT_EQ(S_OK, UnRegisterTypeLib(LIBID_KESTRAVALib, 1, 0, 0, comtest::kSysKind));

    ComPtr<IBaseFilePlay> object = server.create<IBaseFilePlay>(IID_IBaseFilePlay);
    ASSERT_TRUE(object);
    EXPECT_EQ(S_OK, object->Play());
    UINT count = 0;
    EXPECT_EQ(S_OK, object->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ITypeInfo *info = reinterpret_cast<ITypeInfo *>(1);
    EXPECT_TRUE(FAILED(object->GetTypeInfo(0, 0, &info)));
    EXPECT_EQ(nullptr, info);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    HRESULT unregistered =
        object->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    EXPECT_TRUE(FAILED(unregistered)) << std::hex << unregistered;
    LPOLESTR name = const_cast<LPOLESTR>(L"Play");
    DISPID id = 0;
    EXPECT_TRUE(FAILED(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id)));

    ASSERT_EQ(S_OK, server.registerServer());
    doubles::clearRecords();
    EXPECT_EQ(S_OK,
              object->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_Stop"));
    EXPECT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    EXPECT_EQ(3, id);
}
