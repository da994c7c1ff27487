// The setup configuration document over MSXML 6 (COM).
#include "config/setup_xml.h"

#include <windows.h>

#include <msxml2.h>

#include <utility>
#include <vector>

#include "Components/SetupPaths.h"
#include "config/XmlSafety.h"
#include "support/CodePages.h"
#include "support/FileStreams.h"
#include "support/PathUtils.h"
#include "support/UniqueResource.h"

namespace {

// MSXML 6's document class: mingw's msxml2.h stops at version 4.
const CLSID CLSID_DOMDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
// msxml2.h declares IID_IXMLDOMDocument2, but mingw's libuuid does not define it.
const IID IID_XMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

// A setup.xml is a few kilobytes; anything this large is not one.
constexpr int64_t MaxDocumentSize = 16 * 1024 * 1024;

void Check(HRESULT Result, const char* What) {
    if (FAILED(Result))
        throw EXMLDocError(Format("XML document: %s failed (0x%08lX)", What, static_cast<unsigned long>(Result)));
}

struct TXMLDocument {
    TComRef<IXMLDOMDocument2> Dom;
};
using TDocumentPtr = std::shared_ptr<TXMLDocument>;
using TElementPtr = TComRef<IXMLDOMElement>;

class TXMLNode;
using TNodeFactory = std::shared_ptr<TXMLNode> (*)(const TDocumentPtr&, const TElementPtr&);

class TXMLNode : public virtual IXMLNode {
public:
    TXMLNode(TDocumentPtr Document, TElementPtr Element)
        : FDocument(std::move(Document)), FElement(std::move(Element)) {}

    std::wstring NodeName() override {
        TBStr name;
        Check(FElement->get_nodeName(name.Out()), "reading a node name");
        return name.Text();
    }
    std::wstring Text() override {
        TBStr text;
        Check(FElement->get_text(text.Out()), "reading a text");
        return text.Text();
    }
    void SetText(const std::wstring& Value) override {
        Check(FElement->put_text(TBStr(Value).Get()), "writing a text");
    }
    bool HasAttribute(const std::wstring& Name) override {
        TComRef<IXMLDOMAttribute> attribute;
        Check(FElement->getAttributeNode(TBStr(Name).Get(), attribute.Out()), "reading an attribute");
        return static_cast<bool>(attribute);
    }
    std::wstring Attribute(const std::wstring& Name) override {
        TVariant value;
        Check(FElement->getAttribute(TBStr(Name).Get(), value.Out()), "reading an attribute");
        std::wstring text;
        const VARIANT& got = value.Get();
        if (got.vt == VT_BSTR && got.bstrVal) text.assign(got.bstrVal, SysStringLen(got.bstrVal));
        return text;
    }
    void SetAttribute(const std::wstring& Name, const std::wstring& Value) override {
        TVariant value(SysAllocStringLen(Value.data(), static_cast<UINT>(Value.size())));
        HRESULT result = FElement->setAttribute(TBStr(Name).Get(), value.Get());
        value.Reset();
        Check(result, "writing an attribute");
    }
    IXMLNodePtr ChildNode(const std::wstring& Name) override { return Child(Name); }

    const TElementPtr& Element() const { return FElement; }

protected:
    // The class that binds children of that name; plain nodes for all others.
    void RegisterChildNode(const std::wstring& Name, TNodeFactory Factory) {
        FChildClasses.emplace_back(Name, Factory);
    }

    std::shared_ptr<TXMLNode> Child(const std::wstring& Name) {
        for (auto& [name, node] : FChildren)
            if (name == Name) return node;
        TElementPtr element = FindChildElement(Name);
        if (!element) {
            // Missing parts read as empty: add the element to the tree in memory.
            element = CreateElement(Name);
            TComRef<IXMLDOMNode> added;
            Check(FElement->appendChild(element.Get(), added.Out()), "adding an element");
        }
        TNodeFactory factory = &MakePlain;
        for (auto& [name, f] : FChildClasses)
            if (name == Name) factory = f;
        std::shared_ptr<TXMLNode> node = factory(FDocument, element);
        FChildren.emplace_back(Name, node);
        return node;
    }

    TElementPtr CreateElement(const std::wstring& Name) {
        TElementPtr element;
        Check(FDocument->Dom->createElement(TBStr(Name).Get(), element.Out()), "creating an element");
        return element;
    }

    // Child elements of this element, in document order, with that name (any name when empty).
    std::vector<TElementPtr> ChildElements(const std::wstring& Name) {
        std::vector<TElementPtr> result;
        TComRef<IXMLDOMNode> child;
        Check(FElement->get_firstChild(child.Out()), "walking the tree");
        while (child) {
            DOMNodeType type = NODE_INVALID;
            Check(child->get_nodeType(&type), "walking the tree");
            if (type == NODE_ELEMENT) {
                TElementPtr element;
                Check(child->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.Out())),
                      "walking the tree");
                TBStr name;
                Check(element->get_nodeName(name.Out()), "walking the tree");
                if (Name.empty() || name.Text() == Name) result.push_back(element);
            }
            TComRef<IXMLDOMNode> next;
            Check(child->get_nextSibling(next.Out()), "walking the tree");
            child = next;
        }
        return result;
    }

    TElementPtr FindChildElement(const std::wstring& Name) {
        std::vector<TElementPtr> found = ChildElements(Name);
        return found.empty() ? TElementPtr() : found.front();
    }

    static std::shared_ptr<TXMLNode> MakePlain(const TDocumentPtr& Document, const TElementPtr& Element) {
        return std::make_shared<TXMLNode>(Document, Element);
    }

    TDocumentPtr FDocument;
    TElementPtr FElement;

private:
    std::vector<std::pair<std::wstring, TNodeFactory>> FChildClasses;
    std::vector<std::pair<std::wstring, std::shared_ptr<TXMLNode>>> FChildren;
};

template <class T>
std::shared_ptr<TXMLNode> Make(const TDocumentPtr& Document, const TElementPtr& Element) {
    return std::make_shared<T>(Document, Element);
}

class TXMLCollection : public TXMLNode, public virtual IXMLNodeCollection {
public:
    TXMLCollection(TDocumentPtr Document, TElementPtr Element, std::wstring ItemTag, TNodeFactory ItemFactory)
        : TXMLNode(std::move(Document), std::move(Element)), FItemTag(std::move(ItemTag)), FItemFactory(ItemFactory) {}

    int Count() override { return static_cast<int>(Items().size()); }
    IXMLNodePtr Node(int Index) override { return Item(Index); }
    void Clear() override {
        while (!Items().empty()) Delete(Count() - 1);
    }
    void Delete(int Index) override {
        std::shared_ptr<TXMLNode> item = Item(Index);
        TComRef<IXMLDOMNode> removed;
        Check(FElement->removeChild(item->Element().Get(), removed.Out()), "removing an element");
        FItems.erase(FItems.begin() + Index);
    }
    int Remove(const IXMLNodePtr& Node) override {
        std::vector<std::shared_ptr<TXMLNode>>& items = Items();
        for (size_t i = 0; i < items.size(); ++i) {
            if (static_cast<IXMLNode*>(items[i].get()) == Node.get()) {
                Delete(static_cast<int>(i));
                return static_cast<int>(i);
            }
        }
        return -1;
    }

protected:
    std::shared_ptr<TXMLNode> Item(int Index) {
        std::vector<std::shared_ptr<TXMLNode>>& items = Items();
        if (Index < 0 || static_cast<size_t>(Index) >= items.size())
            throw EListError(Format("List index out of bounds (%d)", Index));
        return items[Index];
    }

    // A new empty item element before position Index; Index = Count appends.
    std::shared_ptr<TXMLNode> InsertItem(int Index) {
        std::vector<std::shared_ptr<TXMLNode>>& items = Items();
        if (Index < 0 || static_cast<size_t>(Index) > items.size())
            throw EListError(Format("List index out of bounds (%d)", Index));
        TElementPtr element = CreateElement(FItemTag);
        TComRef<IXMLDOMNode> added;
        if (static_cast<size_t>(Index) == items.size()) {
            Check(FElement->appendChild(element.Get(), added.Out()), "adding an element");
        } else {
            VARIANT before;
            VariantInit(&before);
            before.vt = VT_UNKNOWN;
            before.punkVal = items[Index]->Element().Get();
            // The variant borrows the reference: it is not cleared.
            Check(FElement->insertBefore(element.Get(), before, added.Out()), "inserting an element");
        }
        std::shared_ptr<TXMLNode> item = FItemFactory(FDocument, element);
        items.insert(items.begin() + Index, item);
        return item;
    }

    template <class T>
    std::shared_ptr<T> As(const std::shared_ptr<TXMLNode>& Node) {
        return std::dynamic_pointer_cast<T>(Node);
    }

private:
    // Built on first use from the child elements with the item tag; kept in
    // step by the operations above.
    std::vector<std::shared_ptr<TXMLNode>>& Items() {
        if (!FBuilt) {
            for (TElementPtr& element : ChildElements(FItemTag)) FItems.push_back(FItemFactory(FDocument, element));
            FBuilt = true;
        }
        return FItems;
    }

    std::wstring FItemTag;
    TNodeFactory FItemFactory;
    bool FBuilt = false;
    std::vector<std::shared_ptr<TXMLNode>> FItems;
};

class TXMLCharacterType : public TXMLNode, public virtual IXMLCharacterType {
public:
    using TXMLNode::TXMLNode;
    std::wstring Name() override { return Attribute(L"name"); }
    std::wstring FileName() override { return Attribute(L"fileName"); }
    std::wstring Description() override { return Child(L"description")->Text(); }
    void SetName(const std::wstring& Value) override { SetAttribute(L"name", Value); }
    void SetFileName(const std::wstring& Value) override { SetAttribute(L"fileName", Value); }
    void SetDescription(const std::wstring& Value) override { Child(L"description")->SetText(Value); }
};

class TXMLFileMD5Type : public TXMLNode, public IXMLFileMD5Type {
public:
    using TXMLNode::TXMLNode;
    std::wstring Name() override { return Attribute(L"name"); }
    std::wstring MD5() override { return Attribute(L"MD5"); }
    void SetName(const std::wstring& Value) override { SetAttribute(L"name", Value); }
    void SetMD5(const std::wstring& Value) override { SetAttribute(L"MD5", Value); }
};

class TXMLFiledistributorsType : public TXMLCollection, public virtual IXMLFiledistributorsType {
public:
    TXMLFiledistributorsType(TDocumentPtr Document, TElementPtr Element)
        : TXMLCollection(std::move(Document), std::move(Element), L"url", &MakePlain) {}
    std::wstring Url(int Index) override { return Item(Index)->Text(); }
    IXMLNodePtr Add(const std::wstring& Url) override { return Insert(Count(), Url); }
    IXMLNodePtr Insert(int Index, const std::wstring& Url) override {
        std::shared_ptr<TXMLNode> item = InsertItem(Index);
        item->SetText(Url);
        return item;
    }
};

class TXMLAgentcharactersType : public TXMLCollection, public virtual IXMLAgentcharactersType {
public:
    TXMLAgentcharactersType(TDocumentPtr Document, TElementPtr Element)
        : TXMLCollection(std::move(Document), std::move(Element), L"character", &Make<TXMLCharacterType>) {}
    std::shared_ptr<IXMLCharacterType> Character(int Index) override { return As<IXMLCharacterType>(Item(Index)); }
    std::shared_ptr<IXMLCharacterType> Add() override { return Insert(Count()); }
    std::shared_ptr<IXMLCharacterType> Insert(int Index) override { return As<IXMLCharacterType>(InsertItem(Index)); }
};

class TXMLFilesMD5ListType : public TXMLCollection, public virtual IXMLFilesMD5ListType {
public:
    TXMLFilesMD5ListType(TDocumentPtr Document, TElementPtr Element)
        : TXMLCollection(std::move(Document), std::move(Element), L"file", &Make<TXMLFileMD5Type>) {}
    std::shared_ptr<IXMLFileMD5Type> File(int Index) override { return As<IXMLFileMD5Type>(Item(Index)); }
    std::shared_ptr<IXMLFileMD5Type> FindFile(const std::wstring& Name) override {
        // Compared as read: converted, two names could meet in one best fit.
        for (int i = 0; i < Count(); ++i) {
            std::shared_ptr<IXMLFileMD5Type> file = File(i);
            if (SameTextAscii(file->Name(), Name)) return file;
        }
        return nullptr;
    }
    std::shared_ptr<IXMLFileMD5Type> Add() override { return Insert(Count()); }
    std::shared_ptr<IXMLFileMD5Type> Insert(int Index) override { return As<IXMLFileMD5Type>(InsertItem(Index)); }
};

class TXMLSetupType : public TXMLNode, public virtual IXMLSetupType {
public:
    TXMLSetupType(TDocumentPtr Document, TElementPtr Element) : TXMLNode(std::move(Document), std::move(Element)) {
        RegisterChildNode(L"fileDistributors", &Make<TXMLFiledistributorsType>);
        RegisterChildNode(L"filesMD5List", &Make<TXMLFilesMD5ListType>);
        RegisterChildNode(L"agentCharacters", &Make<TXMLAgentcharactersType>);
    }
    std::shared_ptr<IXMLFiledistributorsType> FileDistributors() override {
        return std::dynamic_pointer_cast<IXMLFiledistributorsType>(Child(L"fileDistributors"));
    }
    std::shared_ptr<IXMLFilesMD5ListType> FilesMD5List() override {
        return std::dynamic_pointer_cast<IXMLFilesMD5ListType>(Child(L"filesMD5List"));
    }
    std::shared_ptr<IXMLAgentcharactersType> AgentCharacters() override {
        return std::dynamic_pointer_cast<IXMLAgentcharactersType>(Child(L"agentCharacters"));
    }
};

void SetBoolProperty(IXMLDOMDocument2* Dom, const wchar_t* Name, bool Value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = Value ? VARIANT_TRUE : VARIANT_FALSE;
    Check(Dom->setProperty(TBStr(Name).Get(), v), "setting a parser property");
}

[[noreturn]] void Refuse(const std::string& SourceName, const std::string& Why) {
    throw EXMLDocError(SourceName + " is not a usable setup configuration: " + Why);
}

}  // namespace

std::shared_ptr<IXMLSetupType> LoadSetupFromBytes(const std::string& Bytes, const std::string& SourceName) {
    // Wine's parser ignores ProhibitDTD, so the bytes are looked at first.
    if (MayHoldDocumentType(Bytes)) Refuse(SourceName, "document type declarations are not allowed.");
    if (static_cast<int64_t>(Bytes.size()) > MaxDocumentSize) Refuse(SourceName, "the file is too large.");

    auto document = std::make_shared<TXMLDocument>();
    HRESULT created = CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_XMLDOMDocument2,
                                       reinterpret_cast<void**>(document->Dom.Out()));
    if (FAILED(created))
        throw EXMLDocError(
            Format("The XML parser (MSXML 6) is not available (0x%08lX)", static_cast<unsigned long>(created)));
    IXMLDOMDocument2* dom = document->Dom.Get();
    Check(dom->put_async(VARIANT_FALSE), "setting a parser property");
    Check(dom->put_validateOnParse(VARIANT_FALSE), "setting a parser property");
    Check(dom->put_resolveExternals(VARIANT_FALSE), "setting a parser property");
    SetBoolProperty(dom, L"ProhibitDTD", true);

    // Handed over as bytes, so that the parser honours the encoding declaration.
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(Bytes.size()));
    if (!array) throw EXMLDocError("Not enough memory to parse " + SourceName);
    void* data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(array, &data))) {
        if (!Bytes.empty()) memcpy(data, Bytes.data(), Bytes.size());
        SafeArrayUnaccessData(array);
    }
    TVariant source(array, VT_UI1);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    HRESULT result = dom->load(source.Get(), &loaded);
    source.Reset();
    if (FAILED(result) || loaded != VARIANT_TRUE) {
        std::string reason = "it is not well-formed XML.";
        TComRef<IXMLDOMParseError> error;
        TBStr text;
        if (SUCCEEDED(dom->get_parseError(error.Out())) && error && SUCCEEDED(error->get_reason(text.Out())) &&
            !text.Text().empty())
            reason = "it is not well-formed XML (" + WideToAnsi(text.Text()) + ").";
        Refuse(SourceName, reason);
    }

    TComRef<IXMLDOMDocumentType> doctype;
    if (SUCCEEDED(dom->get_doctype(doctype.Out())) && doctype)
        Refuse(SourceName, "document type declarations are not allowed.");

    TElementPtr root;
    Check(dom->get_documentElement(root.Out()), "reading the root element");
    TBStr name, space;
    if (root) {
        Check(root->get_nodeName(name.Out()), "reading the root element");
        Check(root->get_namespaceURI(space.Out()), "reading the root element");
    }
    if (!root || name.Text() != L"setup" || !space.Text().empty())
        Refuse(SourceName, "its root element is not \"setup\".");
    return std::make_shared<TXMLSetupType>(document, root);
}

std::shared_ptr<IXMLSetupType> LoadSetup(const std::string& FileName) {
    TWinFileStream file(FileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    int64_t size = file.Size();
    if (size > MaxDocumentSize) Refuse(FileName, "the file is too large.");
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0) file.ReadBuffer(bytes.data(), bytes.size());
    return LoadSetupFromBytes(bytes, FileName);
}

bool HasBareFileName(IXMLCharacterType& Character) {
    // A name the active code page cannot spell exactly would be fetched and saved
    // under another one, which a best fit may even turn into a path.
    const std::wstring wide = Character.FileName();
    const std::string name = WideToAnsi(wide);
    return AnsiToWide(name) == wide && IsBareFileName(name);
}
