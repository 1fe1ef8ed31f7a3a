#pragma once

#include <deque>
#include <functional>

namespace tide {

// Root of the scene tree: a composite of non-owning children and the two
// display lists every object records into. Constructing one takes display-list
// names, so objects exist only while an OpenGL context does.
class Object {
public:
    std::deque<Object*>::iterator childCursor;
    std::deque<Object*> children;
    int listId;
    int blendListId;

    Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object();

    virtual void draw() {}
    virtual void compile() {}
    virtual void drawBlended() {}

protected:
    // The composite compile: records draw() of every child, in order, into
    // listId; `extras` (if given) records more after the children.
    void compileComposite(const std::function<void()>& extras = nullptr);
};

// A drawable object: placement, colour and optional texture, applied at draw
// time to whatever compile() recorded.
class rObject : public Object {
public:
    double innerScale[3];
    double outerScale[3];
    double translation[3];
    double colour[4];
    double innerRotation[4];  // angle in degrees, then the axis
    double outerRotation[4];
    bool hasTexture;
    bool textureOn;
    int textureId;
    bool translucent;  // belongs in its composite's blended list

    rObject();
    explicit rObject(int texture);

    void draw() override;
    void drawBlended() override;
    virtual void reset();

    rObject* setTexture(int id);
    rObject* enableTexture();
    rObject* disableTexture();
    rObject* setInnerRotation(double angle, double x, double y, double z);
    rObject* setOuterRotation(double angle, double x, double y, double z);
    rObject* setOuterScale(double s);
    rObject* setOuterScale(double x, double y, double z);
    rObject* setInnerScale(double s);
    rObject* setInnerScale(double x, double y, double z);
    rObject* setTranslation(double x, double y, double z);

    void setColour(double r, double g, double b);
    void setColour(double r, double g, double b, double a);
    void setColourAll(double r, double g, double b);
    void setColourAll(double r, double g, double b, double a);

    Object* childAt(unsigned i);

    // How far from this object's origin its drawing reaches when every point
    // of its list lies within listReach of the list's origin: the inner scale
    // applied; rotations keep lengths.
    double scaledReach(double listReach) const;
    // The same about the origin of the space draw() is called in, the whole
    // placement applied.
    double placedReach(double listReach) const;

private:
    void drawList(int list);
};

}  // namespace tide
