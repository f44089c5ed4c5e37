<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8"/>
  <!-- A video filling the screen. <video id="..." loop="yes"/> plays it again while the slide lasts;
       <video id="..." untilEnd="yes"/> keeps the slide on screen until the video ends (at most ten times the
       slide's duration). Otherwise the video stops on its last frame, or is cut when the slide ends. -->
  <xsl:template match="Diapositive">
    <html>
      <head>
        <meta charset="utf-8"/>
        <link rel="stylesheet" href="video.css"/>
      </head>
      <body>
        <video src="media/{video/@id}" autoplay="autoplay">
          <xsl:if test="video/@loop = 'yes'"><xsl:attribute name="loop">loop</xsl:attribute></xsl:if>
          <xsl:if test="video/@untilEnd = 'yes'">
            <xsl:attribute name="data-vitrelle-until-end">yes</xsl:attribute>
          </xsl:if>
        </video>
        <xsl:if test="Caption != ''"><div class="caption"><xsl:value-of select="Caption"/></div></xsl:if>
      </body>
    </html>
  </xsl:template>
</xsl:stylesheet>
