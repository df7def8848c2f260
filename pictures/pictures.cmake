# The pictures in pictures/, all drawn by pictures/draw. The programs'
# resource, the icon install, the generator and the tests take their names
# from here.

# In the programs' resource, each as NAME.png beside its NAME@2x.png twin,
# which Qt picks on screens with twice the pixel density.
set(TALLIX_RESOURCE_PICTURES
    eye-photo eye-open eye-closed
    tallix-16 tallix-32
    vistrel-16 vistrel-32
    pointing-hand computer text-file)
# The programs' icons in the desktop's icon theme: NAME-SIZE.png at each
# size, and NAME.svg.
set(TALLIX_ICONS tallix vistrel)
set(TALLIX_ICON_SIZES 16 32 48 64 128 256)

set(TALLIX_RESOURCE_FILES "")
foreach(picture IN LISTS TALLIX_RESOURCE_PICTURES)
    list(APPEND TALLIX_RESOURCE_FILES ${picture}.png ${picture}@2x.png)
endforeach()
# Every file; the small icons are in the resource too.
set(TALLIX_PICTURE_FILES ${TALLIX_RESOURCE_FILES})
foreach(icon IN LISTS TALLIX_ICONS)
    foreach(size IN LISTS TALLIX_ICON_SIZES)
        list(APPEND TALLIX_PICTURE_FILES ${icon}-${size}.png)
    endforeach()
    list(APPEND TALLIX_PICTURE_FILES ${icon}.svg)
endforeach()
list(REMOVE_DUPLICATES TALLIX_PICTURE_FILES)
