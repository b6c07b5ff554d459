#include <atlbase.h>
#include <atlcom.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

DEFINE_GUID(IID_IEvents, 0x2c0f0001, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02);
DEFINE_GUID(IID_IOtherEvents, 0x2c0f0002, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02);
DEFINE_GUID(IID_IUnlisted, 0x2c0f0003, 0x0000, 0x4000, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02);

struct IEvents : IUnknown {
    STDMETHOD(Happened)(int what) PURE;
};
DECLARE_INTERFACE_IID(IEvents, IID_IEvents)

class CSource : public CComObjectRootEx<CComSingleThreadModel>,
                public IConnectionPointContainerImpl<CSource>,
                public IConnectionPointImpl<CSource, &IID_IEvents>,
                public IConnectionPointImpl<CSource, &IID_IOtherEvents> {
public:
    BEGIN_COM_MAP(CSource)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    END_COM_MAP()
    BEGIN_CONNECTION_POINT_MAP(CSource)
    CONNECTION_POINT_ENTRY(IID_IEvents)
    CONNECTION_POINT_ENTRY(IID_IOtherEvents)
    END_CONNECTION_POINT_MAP()

    // Raises the event to every connected sink.
    void Fire(int what)
    {
        for (IUnknown* sink : IConnectionPointImpl<CSource, &IID_IEvents>::m_vec) {
            if (sink)
                static_cast<IEvents*>(sink)->Happened(what);
        }
    }
};

class Sink : public IEvents {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IEvents) {
            *ppv = static_cast<IEvents*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        return ++refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        return --refs;
    }
    STDMETHODIMP Happened(int what) override
    {
        seen.push_back(what);
        return S_OK;
    }
    ULONG refs = 1;
    std::vector<int> seen;
};

class ConnectionPoints : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CComObject<CSource>::CreateInstance(&m_source), S_OK);
        m_source->AddRef();
        CComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(m_source->QueryInterface(&container), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(IID_IEvents, &m_point), S_OK);
    }
    void TearDown() override
    {
        m_point.Release();
        EXPECT_EQ(m_source->Release(), 0u);
    }

    CComObject<CSource>* m_source = nullptr;
    CComPtr<IConnectionPoint> m_point;
};

}

TEST_F(ConnectionPoints, CookiesAreOneBasedSlotsThatAreReused)
{
    Sink first, second, third;
    DWORD cookies[3] = {};
    ASSERT_EQ(m_point->Advise(&first, &cookies[0]), S_OK);
    ASSERT_EQ(m_point->Advise(&second, &cookies[1]), S_OK);
    EXPECT_EQ(cookies[0], 1u);
    EXPECT_EQ(cookies[1], 2u);
    EXPECT_EQ(first.refs, 2u);
    m_source->Fire(5);
    EXPECT_EQ(first.seen, std::vector<int> { 5 });
    EXPECT_EQ(second.seen, std::vector<int> { 5 });

    ASSERT_EQ(m_point->Unadvise(1), S_OK);
    EXPECT_EQ(first.refs, 1u);
    ASSERT_EQ(m_point->Advise(&third, &cookies[2]), S_OK);
    EXPECT_EQ(cookies[2], 1u);
    m_source->Fire(6);
    EXPECT_EQ(first.seen, std::vector<int> { 5 });
    EXPECT_EQ(third.seen, std::vector<int> { 6 });

    CComPtr<IEnumConnections> connections;
    ASSERT_EQ(m_point->EnumConnections(&connections), S_OK);
    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[0].dwCookie, 1u);
    EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(&third));
    EXPECT_EQ(data[1].dwCookie, 2u);
    data[0].pUnk->Release();
    data[1].pUnk->Release();
    connections.Release();
    EXPECT_EQ(third.refs, 2u);

    EXPECT_EQ(m_point->Unadvise(2), S_OK);
    EXPECT_EQ(m_point->Unadvise(1), S_OK);
    EXPECT_EQ(second.refs, 1u);
    EXPECT_EQ(third.refs, 1u);
}

TEST_F(ConnectionPoints, ErrorsAreTheStandardOnes)
{
    Sink sink;
    DWORD cookie = 77;
    struct NotASink : IUnknown {
        STDMETHODIMP QueryInterface(REFIID, void** ppv) override
        {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override
        {
            return 2;
        }
        STDMETHODIMP_(ULONG) Release() override
        {
            return 1;
        }
    } notASink;
    EXPECT_EQ(m_point->Advise(&notASink, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(m_point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(m_point->Advise(&sink, nullptr), E_POINTER);
    EXPECT_EQ(m_point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_point->Unadvise(1), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(m_point->Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(m_point->Unadvise(cookie), S_OK);
    EXPECT_EQ(m_point->Unadvise(cookie), CONNECT_E_NOCONNECTION);

    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(m_point->GetConnectionPointContainer(&container), S_OK);
    EXPECT_TRUE(container.IsEqualObject(static_cast<IConnectionPointContainer*>(m_source)));
    CComPtr<IConnectionPoint> none;
    EXPECT_EQ(container->FindConnectionPoint(IID_IUnlisted, &none), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(none, nullptr);
}

TEST_F(ConnectionPoints, PointsHaveTheirOwnIdentityAndEnumerate)
{
    IID iid {};
    ASSERT_EQ(m_point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IID_IEvents);
    // The connection point answers for itself, but keeps its container alive.
    CComPtr<IUnknown> identity;
    ASSERT_EQ(m_point->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity.p, static_cast<IUnknown*>(m_point.p));
    EXPECT_EQ(m_source->m_dwRef, 3);
    CComPtr<IConnectionPointContainer> notHere;
    EXPECT_EQ(
        m_point->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&notHere)), E_NOINTERFACE);

    CComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(static_cast<IConnectionPointContainer*>(m_source)->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* found[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(3, found, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(found[0], m_point.p);
    ASSERT_EQ(found[1]->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, IID_IOtherEvents);
    found[0]->Release();
    found[1]->Release();
    ASSERT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(3), S_FALSE);
}
