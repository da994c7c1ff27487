#pragma once
// The setup configuration document "setup.xml": a typed layer over the
// system's XML DOM. Values are Unicode; callers convert where they use them.
//
//   <setup>
//     <fileDistributors><url>http://host/folder/</url>...</fileDistributors>
//     <agentCharacters><character name="..." fileName="..."/>...</agentCharacters>
//     <filesMD5List><file name="..." MD5="..."/>...</filesMD5List>
//   </setup>
#include <memory>
#include <string>

#include "support/Exceptions.h"

// The document could not be read, parsed or bound.
class EXMLDocError : public Exception {
    using Exception::Exception;
};

// An item index outside 0 .. Count - 1.
class EListError : public Exception {
    using Exception::Exception;
};

class IXMLNode;
using IXMLNodePtr = std::shared_ptr<IXMLNode>;

// Generic operations of an element node.
class IXMLNode {
public:
    virtual ~IXMLNode() = default;
    virtual std::wstring NodeName() = 0;
    // The text content of the element.
    virtual std::wstring Text() = 0;
    virtual void SetText(const std::wstring& Value) = 0;
    virtual bool HasAttribute(const std::wstring& Name) = 0;
    // Empty text for an attribute that is not there.
    virtual std::wstring Attribute(const std::wstring& Name) = 0;
    virtual void SetAttribute(const std::wstring& Name, const std::wstring& Value) = 0;
    // The first child element of that name; one is added, empty, when there is none.
    virtual IXMLNodePtr ChildNode(const std::wstring& Name) = 0;
};

// An element whose items are its child elements with one tag, in document order.
class IXMLNodeCollection : public virtual IXMLNode {
public:
    virtual int Count() = 0;
    virtual IXMLNodePtr Node(int Index) = 0;
    virtual void Clear() = 0;
    virtual void Delete(int Index) = 0;
    // Removes the given item; its former index, or -1 when it is not an item.
    virtual int Remove(const IXMLNodePtr& Node) = 0;
};

class IXMLFiledistributorsType : public virtual IXMLNodeCollection {
public:
    virtual std::wstring Url(int Index) = 0;
    virtual IXMLNodePtr Add(const std::wstring& Url) = 0;
    // Index may be Count, which appends.
    virtual IXMLNodePtr Insert(int Index, const std::wstring& Url) = 0;
};

class IXMLCharacterType : public virtual IXMLNode {
public:
    virtual std::wstring Name() = 0;
    virtual std::wstring FileName() = 0;
    virtual std::wstring Description() = 0;
    virtual void SetName(const std::wstring& Value) = 0;
    virtual void SetFileName(const std::wstring& Value) = 0;
    virtual void SetDescription(const std::wstring& Value) = 0;
};

class IXMLAgentcharactersType : public virtual IXMLNodeCollection {
public:
    virtual std::shared_ptr<IXMLCharacterType> Character(int Index) = 0;
    virtual std::shared_ptr<IXMLCharacterType> Add() = 0;
    virtual std::shared_ptr<IXMLCharacterType> Insert(int Index) = 0;
};

// Only its attributes are offered; the node itself is reached through the list's Node.
class IXMLFileMD5Type {
public:
    virtual ~IXMLFileMD5Type() = default;
    virtual std::wstring Name() = 0;
    virtual std::wstring MD5() = 0;
    virtual void SetName(const std::wstring& Value) = 0;
    virtual void SetMD5(const std::wstring& Value) = 0;
};

class IXMLFilesMD5ListType : public virtual IXMLNodeCollection {
public:
    virtual std::shared_ptr<IXMLFileMD5Type> File(int Index) = 0;
    // The first item whose name equals Name in the system code page, ignoring
    // the case of the ASCII letters only; nullptr when there is none.
    virtual std::shared_ptr<IXMLFileMD5Type> FindFile(const std::wstring& Name) = 0;
    virtual std::shared_ptr<IXMLFileMD5Type> Add() = 0;
    virtual std::shared_ptr<IXMLFileMD5Type> Insert(int Index) = 0;
};

class IXMLSetupType : public virtual IXMLNode {
public:
    virtual std::shared_ptr<IXMLFiledistributorsType> FileDistributors() = 0;
    virtual std::shared_ptr<IXMLFilesMD5ListType> FilesMD5List() = 0;
    virtual std::shared_ptr<IXMLAgentcharactersType> AgentCharacters() = 0;
};

// Parses the file with the system's XML DOM (COM must be initialised on the
// calling thread) and binds its root element "setup". The encoding
// declaration is honoured. A document with a DTD is refused. Raises
// EXMLDocError (or EStreamError when the file cannot be read); never returns
// a partial document.
std::shared_ptr<IXMLSetupType> LoadSetup(const std::string& FileName);
// The same for a document held in memory; SourceName names it in messages.
std::shared_ptr<IXMLSetupType> LoadSetupFromBytes(const std::string& Bytes, const std::string& SourceName);

// True when the character's data file name, in the system code page, is a
// bare file name: only such characters may be offered for download.
bool HasBareFileName(IXMLCharacterType& Character);
