// bootstrap placeholder, replaced by the image library
